#include "Wake.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vsim {

TWake::TWake() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (fd_ < 0)
        throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

TWake::~TWake() { close(fd_); }

void TWake::Raise()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

bool TWake::Raised() const
{
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

bool TWake::Sleep(std::chrono::milliseconds d) const
{
    const auto end = std::chrono::steady_clock::now() + d;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return !Raised();
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r > 0)
            return false;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

}  // namespace vsim
