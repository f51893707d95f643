#include "PtyPair.h"

#include "SerialPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace testing_support {

PtyPair::PtyPair()
{
    char name[128] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    // A program the test starts must not hold the line open: closing the master must hang it up.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    CloseMaster();
}

void PtyPair::CloseMaster()
{
    // The test's own slave descriptor would keep the line from hanging up.
    for (int* fd : {&master_, &slave_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

Bytes PtyPair::ReadFrame(int firstMs, int gapMs)
{
    Bytes out;
    int wait = firstMs;
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
            return out;
        uint8_t buf[512];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            return out;
        out.insert(out.end(), buf, buf + n);
        wait = gapMs;
    }
}

void PtyPair::Write(const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

uint32_t PtyPair::SlaveBaud() const
{
    return modbus::ReadLineSpeed(master_);
}

ScriptedPeer::ScriptedPeer(PtyPair& pty, Responder responder)
    : pty_(pty), responder_(std::move(responder)), stop_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer()
{
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
}

void ScriptedPeer::Run()
{
    for (;;) {
        pollfd fds[2] = {{pty_.Master(), POLLIN, 0}, {stop_, POLLIN, 0}};
        if ((::poll(fds, 2, -1) < 0 && errno != EINTR) || fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN)) {
            // A hang-up: nobody holds the slave open right now; wait for the stop or a new opener.
            if (fds[0].revents && ::poll(&fds[1], 1, 20) > 0)
                return;
            continue;
        }
        const auto firstByte = Clock::now();
        Bytes request = pty_.ReadFrame(0);
        if (request.empty())
            continue;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back({request, firstByte});
        }
        const std::vector<Piece> pieces = responder_(request);
        for (size_t i = 0; i < pieces.size(); ++i) {
            const Piece& piece = pieces[i];
            pollfd s{stop_, POLLIN, 0};
            if (piece.delayBeforeMs > 0 && ::poll(&s, 1, piece.delayBeforeMs) > 0)
                return;
            if (i + 1 == pieces.size()) {
                std::lock_guard lock(mutex_);
                answerEnds_.push_back(Clock::now());
            }
            pty_.Write(piece.bytes);
        }
    }
}

std::vector<ScriptedPeer::Received> ScriptedPeer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<Clock::time_point> ScriptedPeer::AnswerEnds() const
{
    std::lock_guard lock(mutex_);
    return answerEnds_;
}

ScriptedPeer::Responder Device(modbus::TTransmissionMode mode, std::function<Bytes(const Bytes&)> answer)
{
    return [mode, answer](const Bytes& q) {
        // RTU: unit, PDU, CRC; ASCII: ':', the hex of unit, PDU and LRC, CR LF.
        const Bytes raw = mode == modbus::tmRTU ? q : HexBytes(std::string(q.begin() + 1, q.end() - 2));
        const Bytes pdu(raw.begin() + 1, raw.end() - (mode == modbus::tmRTU ? 2 : 1));
        return std::vector<ScriptedPeer::Piece>{{SerialFrame(mode, raw[0], answer(pdu)), 0}};
    };
}

}  // namespace testing_support
