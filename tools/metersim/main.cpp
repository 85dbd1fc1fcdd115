#include "ModbusSim.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--modbus") == 0)
            return RunModbusSim(argc, argv);
    }
    std::fprintf(stderr, "tarvik-metersim: the meter mode is not built yet\n");
    return 2;
}
