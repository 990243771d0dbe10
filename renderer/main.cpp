#include "app/EntryPoint.h"

int main(int argc, char** argv)
{
    return vistrel::runVistrel(argc, argv);
}
