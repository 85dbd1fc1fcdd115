#include "ModbusSim.h"

#include <cstdio>

int RunModbusSim(int, char **)
{
    std::fprintf(stderr, "tarvik-metersim: the Modbus mode is not built yet\n");
    return 2;
}
