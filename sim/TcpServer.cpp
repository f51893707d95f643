#include "TcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vsim {

namespace {

using namespace std::chrono_literals;

constexpr size_t kHeader = 7;             // MBAP: transaction, protocol, length, unit
constexpr uint8_t kGatewayNoResponse = 0x0B;
constexpr uint8_t kNoise[] = {0x00, 0xFF, 0xA5, 0x5A, 0x13};

std::runtime_error SystemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

bool SendAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

std::vector<uint8_t> Adu(uint16_t tid, uint8_t unit, const std::vector<uint8_t>& pdu)
{
    const size_t length = pdu.size() + 1;
    std::vector<uint8_t> a;
    a.reserve(kHeader + pdu.size());
    for (const size_t b : {size_t{tid} >> 8, size_t{tid} & 0xFF, size_t{0}, size_t{0}, length >> 8,
                           length & 0xFF, size_t{unit}})
        a.push_back(static_cast<uint8_t>(b));
    for (const uint8_t b : pdu)
        a.push_back(b);
    return a;
}

}  // namespace

TTcpServer::TTcpServer(int fd, TDevices devices, std::shared_ptr<TRequestLog> log)
    : fd_(fd), devices_(std::move(devices)), log_(std::move(log))
{
}

std::unique_ptr<TTcpServer> TTcpServer::Listen(const std::string& host, uint16_t port,
                                               TDevices devices, std::shared_ptr<TRequestLog> log)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + host);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw SystemError("socket");
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 16) != 0) {
        const auto e = SystemError("listen on " + host + ":" + std::to_string(port));
        close(fd);
        throw e;
    }
    return std::unique_ptr<TTcpServer>(new TTcpServer(fd, std::move(devices), std::move(log)));
}

TTcpServer::~TTcpServer()
{
    Stop();
    close(fd_);
}

std::string TTcpServer::Address() const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &sa.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(sa.sin_port));
}

void TTcpServer::Start()
{
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void TTcpServer::Stop()
{
    wake_.Raise();
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::lock_guard lock(mutex_);
    for (auto& c : clients_)
        if (c.thread.joinable())
            c.thread.join();
    clients_.clear();
}

void TTcpServer::AcceptLoop()
{
    while (!wake_.Raised()) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_.Fd(), POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR)
            break;
        if (p[1].revents)
            break;
        if (!(p[0].revents & POLLIN))
            continue;
        const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            wake_.Sleep(10ms);  // EMFILE and the like: do not spin
            continue;
        }
        const int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        // Join the connections that have ended, so a long demo does not pile up threads.
        for (auto it = clients_.begin(); it != clients_.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        clients_.push_back({std::thread([this, c, done] {
                                Serve(c);
                                close(c);
                                done->store(true);
                            }),
                            done});
    }
}

void TTcpServer::Serve(int fd)
{
    std::vector<uint8_t> rx;
    uint8_t buf[1024];
    uint16_t previousTid = 0xFFFF;
    bool first = true;
    while (!wake_.Raised()) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_.Fd(), POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[1].revents)
            return;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        rx.insert(rx.end(), buf, buf + n);
        while (rx.size() >= kHeader) {
            const uint16_t tid = static_cast<uint16_t>((rx[0] << 8) | rx[1]);
            const uint16_t protocol = static_cast<uint16_t>((rx[2] << 8) | rx[3]);
            const uint16_t length = static_cast<uint16_t>((rx[4] << 8) | rx[5]);
            // A stream whose header makes no sense cannot be resynchronised: hang up.
            if (protocol != 0 || length < 2 || length > 254) {
                Log({rx.begin(), rx.begin() + static_cast<long>(std::min<size_t>(rx.size(), 260))},
                    tid, -1, {}, "ignored", "bad header");
                return;
            }
            if (rx.size() < 6u + length)
                break;
            const std::vector<uint8_t> request(rx.begin(), rx.begin() + 6 + length);
            rx.erase(rx.begin(), rx.begin() + 6 + length);
            const uint8_t unit = request[6];
            const std::span<const uint8_t> pdu(request.data() + kHeader, request.size() - kHeader);

            TSimDevice* device = nullptr;
            for (auto& d : devices_)
                if (d->settings.address == unit)
                    device = d.get();
            if (!device && devices_.size() == 1)
                device = devices_.front().get();
            std::vector<uint8_t> reply;
            if (device) {
                auto r = device->pdu.Serve(pdu, false);
                const TFaults& f = device->settings.faults;
                if (!r)
                    Log(request, tid, unit, pdu, "silent", "listen only");
                else if (f.silent)
                    Log(request, tid, unit, pdu, "silent", "fault");
                else if (f.exception)
                    Log(request, tid, unit, pdu, "exception " + std::to_string(f.exception));
                else
                    Log(request, tid, unit, pdu, ResultOf(*r));
                if (!r)
                    continue;
                reply = std::move(*r);
            } else {
                reply = ExceptionPdu(pdu[0], kGatewayNoResponse);
                Log(request, tid, unit, pdu, ResultOf(reply), "other address");
            }
            Answer(fd, device, tid, first ? static_cast<uint16_t>(tid - 1) : previousTid, unit,
                   request, std::move(reply));
            previousTid = tid;
            first = false;
        }
    }
}

void TTcpServer::Log(const std::vector<uint8_t>& wire, int tid, int unit,
                     std::span<const uint8_t> pdu, std::string result, std::string reason)
{
    if (!log_)
        return;
    TRequestEntry e;
    e.transport = TTransport::Tcp;
    e.tid = tid;
    e.unit = unit;
    e.pdu.assign(pdu.begin(), pdu.end());
    e.result = std::move(result);
    e.reason = std::move(reason);
    e.wire = wire;
    log_->Record(std::move(e));
}

void TTcpServer::Answer(int fd, TSimDevice* d, uint16_t tid, uint16_t previousTid, uint8_t unit,
                        const std::vector<uint8_t>& request, std::vector<uint8_t> pdu)
{
    const TFaults f = d ? d->settings.faults : TFaults{};
    if (f.silent)
        return;
    if (f.echo && !SendAll(fd, request.data(), request.size()))
        return;
    if (d && d->settings.delayMs > 0 && !wake_.Sleep(std::chrono::milliseconds(d->settings.delayMs)))
        return;
    if (f.exception)
        pdu = ExceptionPdu(static_cast<uint8_t>(pdu[0] & 0x7F), static_cast<uint8_t>(f.exception));
    if (f.wrongFunction)
        pdu[0] = static_cast<uint8_t>((pdu[0] & 0x80) | ((pdu[0] + 1) & 0x7F));
    if (f.garbage && !SendAll(fd, kNoise, sizeof kNoise))
        return;
    if (f.otherAddress) {
        const auto other = Adu(tid, static_cast<uint8_t>(unit + 1), pdu);
        if (!SendAll(fd, other.data(), other.size()))
            return;
    }
    if (f.staleId) {
        const auto stale = Adu(previousTid, unit, pdu);
        if (!SendAll(fd, stale.data(), stale.size()))
            return;
    }
    const auto adu = Adu(tid, unit, pdu);
    const int splitMs = f.splitMs > 0 ? f.splitMs : f.gapMs;
    if (splitMs > 0) {
        const size_t half = adu.size() / 2;
        if (!SendAll(fd, adu.data(), half) || !wake_.Sleep(std::chrono::milliseconds(splitMs)))
            return;
        SendAll(fd, adu.data() + half, adu.size() - half);
    } else {
        SendAll(fd, adu.data(), adu.size());
    }
    if (f.garbage)
        SendAll(fd, kNoise, sizeof kNoise);
}

}  // namespace vsim
