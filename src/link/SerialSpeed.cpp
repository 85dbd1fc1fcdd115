#include "link/SerialSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace SerialSpeed {

int SetArbitrary(int fd, int speed)
{
    struct termios2 settings = {};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return 0;
    settings.c_cflag &= ~CBAUD;
    settings.c_cflag |= BOTHER;
    settings.c_cflag &= ~(CBAUD << IBSHIFT); // input speed follows the output speed field
    settings.c_cflag |= BOTHER << IBSHIFT;
    settings.c_ispeed = speed_t(speed);
    settings.c_ospeed = speed_t(speed);
    return ioctl(fd, TCSETS2, &settings) == 0 ? 1 : 0;
}

int ReadBack(int fd)
{
    struct termios2 settings = {};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return 0;
    return int(settings.c_ospeed);
}

} // namespace SerialSpeed
