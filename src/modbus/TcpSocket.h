#pragma once

// The TCP socket layer of the Modbus TCP client: one client connection over POSIX sockets.
// The socket stays non-blocking from the connect on; every wait is a poll() with a time-out, so
// no call spins and none blocks longer than its caller allows.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace modbus {

// Texts of the socket layer's errors; the user sees them as they are.
namespace sockmsg {
inline constexpr const char* NotConnected = "Not Connected";
inline constexpr const char* ClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* AlreadyConnected = "Already connected.";
inline constexpr const char* ConnectTimedOut = "Connect timed out.";
inline constexpr const char* HostRequired = "A host is required.";
}  // namespace sockmsg

// "Socket Error # <code>" CR LF <the system's text for the code>.
std::string SocketErrorText(int code, const char* systemText);
std::string SocketErrorText(int code);  // text from strerror

class ESocketError : public std::runtime_error {
public:
    enum TKind { skNotConnected, skClosedGracefully, skAlreadyConnected, skConnectTimedOut,
                 skHostRequired, skSystem };

    ESocketError(TKind kind, const char* text) : std::runtime_error(text), kind_(kind) {}
    // A system error: errno, or for a failed name look-up getaddrinfo's (negative) EAI code.
    ESocketError(int code, const std::string& text)
        : std::runtime_error(text), kind_(skSystem), code_(code) {}

    TKind Kind() const { return kind_; }
    int Code() const { return code_; }  // 0 unless Kind() is skSystem

private:
    TKind kind_;
    int code_ = 0;
};

// Milliseconds from now until `deadline`, rounded up so that a wait of that length does not end
// before it; 0 once it has passed, INT_MAX at most.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline);

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    const std::string& Host() const { return host_; }
    void SetHost(std::string host) { host_ = std::move(host); }
    int32_t Port() const { return port_; }
    void SetPort(int32_t port) { port_ = port; }

    // Tries each address of Host in turn. timeoutMs <= 0 sets no limit of its own (the system's
    // connect time-out still applies); above 0 it bounds the whole attempt.
    void Connect(int timeoutMs = -1);
    void Disconnect() noexcept;
    // Open and not closed by the server. Finding the server gone closes this side as well, so
    // that the next Connect starts afresh.
    // `waiting`, when given, tells whether unread bytes are queued: the same poll answers both.
    bool Connected(bool* waiting = nullptr);
    // Raises "Not Connected" when closed, "Connection Closed Gracefully." when the server has
    // shut its side (even with bytes still unread), or the pending socket error (a reset).
    // Returns whether unread bytes are queued.
    bool CheckForDisconnect();

    // Writes the whole block, never raising SIGPIPE. timeoutMs < 0 waits as long as the send
    // buffer stays full.
    void Write(const uint8_t* data, size_t size, int timeoutMs = -1);
    // True when a Read would not wait: bytes have arrived, or the server closed or reset.
    bool WaitReadable(int timeoutMs);
    // Reads what has arrived, up to `capacity` bytes; 0 when nothing has. The server's orderly
    // close raises "Connection Closed Gracefully."; both end the connection.
    size_t Read(uint8_t* dest, size_t capacity);
    // Drops the bytes that have arrived but were not read; returns how many.
    size_t DiscardInput();

private:
    void Close() noexcept;
    [[noreturn]] void FailWith(int error);
    // 0: open; otherwise what ended the connection (ESHUTDOWN for an orderly close).
    int PeerState(bool* waiting = nullptr) const;

    std::string host_;
    int32_t port_ = 0;
    int fd_ = -1;
};

}  // namespace modbus
