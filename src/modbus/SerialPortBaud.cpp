// Speeds without a B constant (56000, 128000, 256000, custom rates) go through termios2 with
// BOTHER. These kernel headers clash with <termios.h>, hence a unit of their own.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstdint>
#include <sys/ioctl.h>

namespace modbus {

bool SetArbitraryBaud(int fd, uint32_t baud)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &t) == 0;
}

uint32_t ReadLineSpeed(int fd)
{
    struct termios2 t {};
    return ioctl(fd, TCGETS2, &t) == 0 ? t.c_ospeed : 0;
}

}  // namespace modbus
