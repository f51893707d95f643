#include "SerialPort.h"

#include "ModbusError.h"

#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace modbus {

// In SerialPortBaud.cpp: the kernel's termios2 interface, which cannot share a unit with termios.h.
bool SetArbitraryBaud(int fd, uint32_t baud);

namespace {

speed_t StandardSpeed(uint32_t baud)
{
    switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

// The bits that must have taken effect; parity is left out because a pseudo-terminal cannot
// carry it and says so only by refusing the whole call.
bool SameExceptParity(const termios& want, const termios& got)
{
    const tcflag_t parityBits = PARENB | PARODD;
    return (want.c_cflag & ~parityBits & ~CBAUD) == (got.c_cflag & ~parityBits & ~CBAUD) &&
           cfgetospeed(&want) == cfgetospeed(&got) &&
           want.c_iflag == got.c_iflag &&
           want.c_oflag == got.c_oflag && want.c_lflag == got.c_lflag;
}

class PosixSerialPort final : public ISerialPort {
public:
    PosixSerialPort() : wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~PosixSerialPort() override
    {
        Close();
        if (wake_ >= 0)
            ::close(wake_);
    }

    void Open(const std::string& name) override
    {
        Close();
        const std::string path = SerialDevicePath(name);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            throw OpenError(errno, path);
        // TIOCEXCL keeps other programs out, but not root; the lock also covers root and
        // every other copy of this tool.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY)) {
            const int err = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            throw OpenError(err, path);
        }
        termios t{};
        if (::tcgetattr(fd, &t) != 0) {
            const int err = errno;
            ::close(fd);
            throw OpenError(err, path);
        }
        fd_ = fd;
        hooked_ = false;
        gone_ = false;
    }

    void Hook(int fd) override
    {
        Close();
        if (fd < 0 || ::fcntl(fd, F_GETFD) < 0)
            throw EModbusError(msg::CannotOpenPort, "the hooked handle is not valid", EBADF);
        fd_ = fd;
        hooked_ = true;
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }

    void Close() override
    {
        if (fd_ >= 0 && !hooked_) {
            ::ioctl(fd_, TIOCNXCL);
            ::close(fd_);
        }
        fd_ = -1;
        hooked_ = false;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    bool Configure(const LineSettings& s) override
    {
        // Speed 0 would hang the line up (B0) rather than set a rate.
        if (fd_ < 0 || s.baud == 0)
            return false;
        termios t{};
        if (::tcgetattr(fd_, &t) != 0)
            return false;
        ::cfmakeraw(&t);
        // Parity is generated and the line's bytes are delivered as read, also those with a
        // parity or framing error: with INPCK the kernel would replace them by 0x00 (or drop or
        // mark them), and the frame's checksum could no longer judge what really came.
        t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
        t.c_cflag |= CLOCAL | CREAD | (s.dataBits == db7 ? CS7 : CS8);
        if (s.parity != psNone) {
            t.c_cflag |= PARENB;
            if (s.parity == psOdd)
                t.c_cflag |= PARODD;
        }
        if (s.stopBits == sb2)
            t.c_cflag |= CSTOPB;
        // DTR/DSR handshaking has no termios equivalent; the setting is kept but not applied.
        if (s.flowControl == fcRtsCts)
            t.c_cflag |= CRTSCTS;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;

        const speed_t speed = StandardSpeed(s.baud);
        const bool arbitrary = speed == B0;
        if (!arbitrary) {
            ::cfsetispeed(&t, speed);
            ::cfsetospeed(&t, speed);
        }
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
            if (errno != EINVAL)
                return false;
            termios back{};
            if (::tcgetattr(fd_, &back) != 0 || !SameExceptParity(t, back))
                return false;
        }
        if (arbitrary && !SetArbitraryBaud(fd_, s.baud))
            return false;

        if (s.flowControl == fcRtsToggle)
            SetRTS(false);
        else if (s.flowControl != fcRtsCts)
            SetRTS(s.rtsOn);
        if (s.flowControl != fcDtrDsr)
            SetDTR(s.dtrOn);
        return true;
    }

    void Purge(bool input, bool output) override
    {
        if (fd_ < 0 || (!input && !output))
            return;
        ::tcflush(fd_, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
    }

    WaitResult WaitForData(int timeoutMs) override
    {
        if (fd_ < 0)
            return WaitResult::Hangup;
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int wait = timeoutMs;
            if (timeoutMs >= 0) {
                // Rounded up: a silence must last at least the interval asked for.
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
            }
            const int n = ::poll(fds, 2, wait);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                gone_ = true;
                return WaitResult::Hangup;
            }
            if (n == 0)
                return WaitResult::Timeout;
            if (fds[1].revents & POLLIN) {
                uint64_t v;
                while (::read(wake_, &v, sizeof v) > 0) {
                }
                return WaitResult::Stopped;
            }
            if (fds[0].revents & POLLIN)
                return WaitResult::Data;
            if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                gone_ = true;
                return WaitResult::Hangup;
            }
        }
    }

    void Stop() override
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }

    int Read(uint8_t* buf, int max) override
    {
        if (fd_ < 0)
            return -1;
        if (max <= 0)
            return 0;
        for (;;) {
            const ssize_t n = ::read(fd_, buf, static_cast<size_t>(max));
            if (n > 0)
                return static_cast<int>(n);
            if (n == 0) {
                gone_ = true;  // poll said readable, nothing came: the device has gone
                return -1;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            gone_ = true;
            return -1;
        }
    }

    bool Write(const uint8_t* bytes, int count, int timeoutMs) override
    {
        if (fd_ < 0)
            return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, bytes + done, static_cast<size_t>(count - done));
            if (n > 0) {
                done += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                gone_ = errno == EIO || errno == ENXIO || errno == ENODEV;
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                Purge(false, true);
                return false;
            }
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
                return false;
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                gone_ = true;
                return false;
            }
        }
        return true;
    }

    // Polled instead of tcdrain, which waits without limit when the line is stalled (CTS held
    // low) and cannot be interrupted.
    int OutputQueued() override
    {
        int n = 0;
        if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &n) != 0)
            return 0;
        return n;
    }

    bool Gone() const override { return gone_; }
    void SetRTS(bool on) override { SetModemBit(TIOCM_RTS, on); }
    void SetDTR(bool on) override { SetModemBit(TIOCM_DTR, on); }

private:
    static EModbusError OpenError(int err, const std::string& path)
    {
        std::string reason = path + ": " + std::strerror(err);
        if (err == EACCES || err == EPERM)
            reason += " (is your user in the 'dialout' group? sudo usermod -aG dialout $USER, "
                      "then log in again)";
        else if (err == EBUSY)
            reason += " (another program is using the port)";
        return EModbusError(msg::CannotOpenPort, reason, err);
    }

    void SetModemBit(int bit, bool on)
    {
        // Pseudo-terminals have no modem lines; failing to switch one is not an error here.
        if (fd_ >= 0)
            ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
    }

    int fd_ = -1;
    bool hooked_ = false;
    int wake_ = -1;
    std::atomic<bool> gone_{false};
};

}  // namespace

std::unique_ptr<ISerialPort> CreatePosixSerialPort()
{
    return std::make_unique<PosixSerialPort>();
}

std::string SerialDevicePath(const std::string& name)
{
    return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

}  // namespace modbus
