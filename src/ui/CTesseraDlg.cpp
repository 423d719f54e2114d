#include "CTesseraDlg.h"
