#include "SerialServer.h"

#include "LineSpeed.h"

#include "ModbusBuffer.h"
#include "ModbusFrame.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vsim {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kAsciiMax = 513;
constexpr auto kAsciiCharTimeout = 1000ms;  // a started ASCII frame is given up after this
constexpr auto kTruncatedWait = 100ms;      // an RTU request shorter than its function implies
constexpr uint8_t kNoise[] = {0x00, 0xFF, 0xA5, 0x5A, 0x13};

std::runtime_error SystemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Length of the RTU request at p as its function code implies: 0 = not known yet, -1 = the
// function has no fixed layout (its end is found by the silent gap).
int ImpliedLength(const uint8_t* p, size_t n)
{
    if (n < 2)
        return 0;
    switch (p[1]) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x08:
        return 8;
    case 0x07: case 0x0B: case 0x0C: case 0x11:
        return 4;
    case 0x0F: case 0x10:
        return n < 7 ? 0 : 9 + p[6];
    default:
        return -1;
    }
}

bool CrcOk(const uint8_t* p, size_t n)
{
    if (n < 4)
        return false;
    const uint16_t crc = modbus::Crc16(p, n - 2);
    return p[n - 2] == (crc & 0xFF) && p[n - 1] == (crc >> 8);
}

// An ASCII frame whose characters are all in place: if it does not decode, its LRC is wrong.
bool AsciiShaped(const uint8_t* p, size_t n)
{
    if (n < 9 || n % 2 == 0 || p[0] != ':' || p[n - 2] != '\r' || p[n - 1] != '\n')
        return false;
    return std::all_of(p + 1, p + n - 2, [](uint8_t c) { return std::isxdigit(c) != 0; });
}

}  // namespace

TSerialServer::TSerialServer(int fd, int slaveFd, std::string path, TDevices devices,
                             std::shared_ptr<TRequestLog> log)
    : fd_(fd), slaveFd_(slaveFd), path_(std::move(path)), devices_(std::move(devices)),
      log_(std::move(log))
{
}

std::unique_ptr<TSerialServer> TSerialServer::OpenPty(TDevices devices, std::shared_ptr<TRequestLog> log)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0)
        throw SystemError("posix_openpt");
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        const auto e = SystemError("grantpt/unlockpt");
        close(master);
        throw e;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        const auto e = SystemError("ptsname");
        close(master);
        throw e;
    }
    // Without a handle of our own, the master reads EIO whenever no client has the slave open.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const auto e = SystemError(std::string("open ") + name);
        close(master);
        throw e;
    }
    // A fresh pty echoes; the replies must not come back to us as requests.
    MakeRaw(slave);
    return std::unique_ptr<TSerialServer>(
        new TSerialServer(master, slave, name, std::move(devices), std::move(log)));
}

std::unique_ptr<TSerialServer> TSerialServer::OpenTty(const std::string& path, TDevices devices,
                                                      std::shared_ptr<TRequestLog> log)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw SystemError("open " + path);
    const TDeviceSettings& first = devices.front()->settings;
    if (!ConfigureLine(fd, first.baud, first.parity)) {
        const auto e = SystemError("configure " + path);
        close(fd);
        throw e;
    }
    return std::unique_ptr<TSerialServer>(
        new TSerialServer(fd, -1, path, std::move(devices), std::move(log)));
}

TSerialServer::~TSerialServer()
{
    Stop();
    if (slaveFd_ >= 0)
        close(slaveFd_);
    close(fd_);
}

void TSerialServer::Start()
{
    thread_ = std::thread([this] { Run(); });
}

void TSerialServer::Stop()
{
    wake_.Raise();
    if (thread_.joinable())
        thread_.join();
}

uint32_t TSerialServer::Speed() const { return ReadLineSpeed(fd_); }

std::chrono::milliseconds TSerialServer::FrameGap() const
{
    // 3.5 characters of 11 bits; a pty delivers at once, so never below 2 ms.
    const uint32_t speed = std::max<uint32_t>(Speed(), 50);
    return std::max(2ms, std::chrono::milliseconds((38500 + speed - 1) / speed));
}

std::chrono::milliseconds TSerialServer::InterFramePause() const
{
    // Long enough for a client that waits 40 characters of silence before it ends a frame.
    const uint32_t speed = std::max<uint32_t>(Speed(), 50);
    return std::max(60ms, std::chrono::milliseconds(440000 / speed + 1));
}

bool TSerialServer::AcceptsAscii() const
{
    return std::any_of(devices_.begin(), devices_.end(),
                       [](const auto& d) { return d->settings.framing != TFraming::Rtu; });
}

bool TSerialServer::AcceptsRtu() const
{
    return std::any_of(devices_.begin(), devices_.end(),
                       [](const auto& d) { return d->settings.framing != TFraming::Ascii; });
}

void TSerialServer::Run()
{
    uint8_t buf[512];
    while (!wake_.Raised()) {
        int timeout = -1;
        if (!rx_.empty()) {
            const auto wait = !gapHandled_ ? FrameGap()
                              : rx_[0] == ':' ? std::chrono::milliseconds(kAsciiCharTimeout)
                                              : std::chrono::milliseconds(kTruncatedWait);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                lastRx_ + wait - Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count() + 1));
        }
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_.Fd(), POLLIN, 0}};
        const int r = poll(p, 2, timeout);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (p[1].revents)
            break;
        if (r == 0) {
            const Stage stage = gapHandled_ ? Stage::Final : Stage::Gap;
            gapHandled_ = true;
            Extract(stage);
            gapMark_ = rx_.size();
            continue;
        }
        if (p[0].revents & POLLIN) {
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                rx_.insert(rx_.end(), buf, buf + n);
                lastRx_ = Clock::now();
                gapHandled_ = false;
                Extract(Stage::Arrived);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
        }
        // Hang-up or EIO (no one holds the slave): wait instead of spinning.
        if (!wake_.Sleep(50ms))
            break;
    }
}

bool TSerialServer::TryRtuAt(size_t offset, size_t length)
{
    if (offset + length > rx_.size() || !CrcOk(rx_.data() + offset, length))
        return false;
    if (offset > 0)
        Discard(offset, "noise");
    const std::vector<uint8_t> frame(rx_.begin(), rx_.begin() + static_cast<long>(length));
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(length));
    gapMark_ = 0;
    Handle(frame.data(), frame.size(), false);
    return true;
}

void TSerialServer::Extract(Stage stage)
{
    const bool gapExpired = stage != Stage::Arrived;
    const bool ascii = AcceptsAscii();
    const bool rtu = AcceptsRtu();
    while (!rx_.empty()) {
        if (ascii && rx_[0] == ':') {
            const auto lf = std::search(rx_.begin(), rx_.end(), std::begin("\r\n"), std::end("\r\n") - 1);
            if (lf != rx_.end()) {
                const std::vector<uint8_t> frame(rx_.begin(), lf + 2);
                rx_.erase(rx_.begin(), lf + 2);
                gapMark_ = 0;
                Handle(frame.data(), frame.size(), true);
                continue;
            }
            if (rx_.size() > kAsciiMax) {
                rx_.erase(rx_.begin());
                continue;
            }
            // An RTU request after a silent gap ends an ASCII frame that never finished.
            if (rtu && gapMark_ > 0 && gapMark_ < rx_.size()) {
                const int m = ImpliedLength(rx_.data() + gapMark_, rx_.size() - gapMark_);
                if (m > 0 && TryRtuAt(gapMark_, static_cast<size_t>(m)))
                    continue;
            }
            // A ':' may also be an RTU frame to address 58.
            if (gapExpired && rtu) {
                const int n = ImpliedLength(rx_.data(), rx_.size());
                if ((n > 0 && TryRtuAt(0, static_cast<size_t>(n))) || TryRtuAt(0, rx_.size()))
                    continue;
            }
            if (stage == Stage::Final)
                Discard(rx_.size(), "incomplete frame");  // an ASCII frame that never ended
            return;  // wait for CR LF
        }
        if (!rtu) {
            // Noise between ASCII frames.
            const auto colon = std::find(rx_.begin(), rx_.end(), ':');
            Discard(static_cast<size_t>(colon - rx_.begin()), "noise");
            continue;
        }
        const int n = ImpliedLength(rx_.data(), rx_.size());
        if (n > 0 && TryRtuAt(0, static_cast<size_t>(n)))
            continue;
        if (!gapExpired)
            return;
        // A client that writes a request in pieces gets a little longer.
        if (stage == Stage::Gap && n > 0 && rx_.size() < static_cast<size_t>(n))
            return;
        // The line went quiet: what we have is all of it.
        if (TryRtuAt(0, rx_.size()))
            continue;
        bool found = false;
        for (size_t off = 1; !found && off + 4 <= rx_.size(); ++off) {
            const int m = ImpliedLength(rx_.data() + off, rx_.size() - off);
            found = m > 0 && TryRtuAt(off, static_cast<size_t>(m));
        }
        if (found)
            continue;
        const auto colon = ascii ? std::find(rx_.begin() + 1, rx_.end(), ':') : rx_.end();
        if (colon != rx_.end()) {
            Discard(static_cast<size_t>(colon - rx_.begin()), "noise");
            continue;
        }
        for (auto& d : devices_)
            d->pdu.CountCommError();
        // As long as its function says, or longer: a whole frame whose CRC does not match.
        const bool whole = rx_.size() >= 4 && (n < 0 || rx_.size() >= static_cast<size_t>(n));
        Discard(rx_.size(), whole ? "bad checksum" : "incomplete frame");
    }
    gapMark_ = 0;
}

void TSerialServer::Handle(const uint8_t* wire, size_t length, bool ascii)
{
    const auto mode = ascii ? modbus::tmASCII : modbus::tmRTU;
    modbus::TModbusBuffer raw(modbus::RawFrameCapacity(mode));
    bool ok = false;
    try {
        ok = length <= static_cast<size_t>(modbus::WireFrameCapacity(mode)) &&
             modbus::DecodeFrame(mode, modbus::cmServer, wire, static_cast<int>(length), raw);
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok) {
        for (auto& d : devices_)
            d->pdu.CountCommError();
        Log(wire, length, ascii, -1, {}, "ignored",
            ascii && !AsciiShaped(wire, length) ? "bad frame" : "bad checksum");
        return;
    }
    const uint8_t address = raw.Data()[0];
    const std::span<const uint8_t> pdu(raw.Data() + 1,
                                       static_cast<size_t>(raw.Size() - 1 - modbus::ChecksumSize(mode)));
    const uint32_t speed = Speed();
    // For the log, when no device takes it: the device with that address listens at another
    // speed, or none listens at this one.
    bool framingKnown = false, speedKnown = false, addressElsewhere = false;
    bool logged = false;
    for (auto& d : devices_) {
        if (d->settings.framing == (ascii ? TFraming::Rtu : TFraming::Ascii))
            continue;
        framingKnown = true;
        const bool ours = address == 0 || address == d->settings.address;
        // A device at another speed sees only noise.
        if (speed != 0 && speed != d->settings.baud) {
            addressElsewhere = addressElsewhere || ours;
            continue;
        }
        speedKnown = true;
        d->pdu.CountBusMessage();
        if (!ours)
            continue;
        auto reply = d->pdu.Serve(pdu, address == 0);
        // A broadcast reaches every device on the line but is one request.
        if (!logged) {
            const TFaults& f = d->settings.faults;
            if (!reply)
                Log(wire, length, ascii, address, pdu, "silent", address == 0 ? "broadcast" : "listen only");
            else if (f.silent)
                Log(wire, length, ascii, address, pdu, "silent", "fault");
            else if (f.exception)
                Log(wire, length, ascii, address, pdu, "exception " + std::to_string(f.exception));
            else
                Log(wire, length, ascii, address, pdu, ResultOf(*reply));
            logged = true;
        }
        if (reply)
            Reply(*d, std::move(*reply), ascii, wire, length);
    }
    if (!logged)
        Log(wire, length, ascii, address, pdu, "ignored",
            !framingKnown                      ? "other mode"
            : addressElsewhere || !speedKnown ? "other speed"
                                              : "other address");
}

void TSerialServer::Log(const uint8_t* wire, size_t length, bool ascii, int unit,
                        std::span<const uint8_t> pdu, std::string result, std::string reason)
{
    if (!log_)
        return;
    TRequestEntry e;
    e.transport = ascii ? TTransport::Ascii : TTransport::Rtu;
    e.baud = Speed();
    e.unit = unit;
    e.pdu.assign(pdu.begin(), pdu.end());
    e.result = std::move(result);
    e.reason = std::move(reason);
    e.wire.assign(wire, wire + length);
    log_->Record(std::move(e));
}

void TSerialServer::Discard(size_t n, const char* reason)
{
    n = std::min(n, rx_.size());
    if (n == 0)
        return;
    Log(rx_.data(), n, rx_[0] == ':', -1, {}, "ignored", reason);
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(n));
}

void TSerialServer::Reply(TSimDevice& d, std::vector<uint8_t> pdu, bool ascii,
                          const uint8_t* request, size_t requestLength)
{
    const TFaults& f = d.settings.faults;
    if (f.silent)
        return;
    if (f.echo)
        WriteAll(request, requestLength);
    if (d.settings.delayMs > 0 && !wake_.Sleep(std::chrono::milliseconds(d.settings.delayMs)))
        return;
    if (f.exception)
        pdu = ExceptionPdu(static_cast<uint8_t>(pdu[0] & 0x7F), static_cast<uint8_t>(f.exception));
    if (f.wrongFunction)
        pdu[0] = static_cast<uint8_t>((pdu[0] & 0x80) | ((pdu[0] + 1) & 0x7F));

    const auto mode = ascii ? modbus::tmASCII : modbus::tmRTU;
    auto encode = [&](uint8_t address, bool corrupt) {
        modbus::TModbusBuffer raw(modbus::RawFrameCapacity(mode));
        modbus::WriteHeader(raw, address);
        for (uint8_t b : pdu)
            raw.WriteByte(b);
        modbus::AppendChecksum(raw, mode);
        if (corrupt)
            raw.Data()[raw.Size() - 1] ^= 0x5A;
        std::vector<uint8_t> wire(static_cast<size_t>(modbus::WireFrameCapacity(mode)));
        wire.resize(static_cast<size_t>(
            modbus::EncodeFrame(mode, raw, wire.data(), static_cast<int>(wire.size()))));
        return wire;
    };

    const auto pause = InterFramePause();
    if (f.garbage && !(WriteAll(kNoise, sizeof kNoise) && wake_.Sleep(pause)))
        return;
    if (f.otherAddress) {
        const auto other = encode(static_cast<uint8_t>(d.settings.address % 247 + 1), false);
        if (!(WriteAll(other.data(), other.size()) && wake_.Sleep(pause)))
            return;
    }
    const auto wire = encode(d.settings.address, d.NextReplyCorrupt());
    if (f.gapMs > 0) {
        const size_t half = wire.size() / 2;
        if (!(WriteAll(wire.data(), half) && wake_.Sleep(std::chrono::milliseconds(f.gapMs))))
            return;
        WriteAll(wire.data() + half, wire.size() - half);
    } else {
        WriteAll(wire.data(), wire.size());
    }
    if (f.garbage && wake_.Sleep(pause))
        WriteAll(kNoise, sizeof kNoise);
}

bool TSerialServer::WriteAll(const uint8_t* bytes, size_t n)
{
    const auto deadline = Clock::now() + 1s;
    while (n > 0) {
        const ssize_t w = write(fd_, bytes, n);
        if (w > 0) {
            bytes += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // Nobody reads the line: drop what is queued rather than hang.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            if (slaveFd_ >= 0)
                tcflush(slaveFd_, TCIFLUSH);
            return false;
        }
        pollfd p[2] = {{fd_, POLLOUT, 0}, {wake_.Fd(), POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(left.count())) > 0 && p[1].revents)
            return false;
    }
    return true;
}

}  // namespace vsim
