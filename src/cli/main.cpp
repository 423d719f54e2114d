#include "CliMain.h"

int main(int argc, char** argv)
{
    return tessera::cli::Main(argc, argv);
}
