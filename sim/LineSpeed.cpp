#include "LineSpeed.h"

#include "SerialPort.h"

// termios2 lives in the kernel header, which clashes with <termios.h>: keep this file apart.
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace vsim {

uint32_t ReadLineSpeed(int fd)
{
    return modbus::ReadLineSpeed(fd);
}

namespace {

void Raw(struct termios2& t)
{
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

}  // namespace

bool MakeRaw(int fd)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    Raw(t);
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool ConfigureLine(int fd, uint32_t baud, TParity parity)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    Raw(t);
    if (parity != TParity::None)
        t.c_cflag |= PARENB | (parity == TParity::Odd ? PARODD : 0);
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    t.c_cflag |= BOTHER;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace vsim
