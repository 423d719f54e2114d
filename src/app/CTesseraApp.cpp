#include "CTesseraApp.h"
