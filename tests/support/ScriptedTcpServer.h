#pragma once

// A Modbus TCP server on a loopback ephemeral port: answers as the script says, records every request.

#include "Frames.h"

#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tcptest {

using testing_support::Bytes;

// A socket bound to an ephemeral loopback port, not listening yet; addr receives its address.
int BoundLoopbackSocket(sockaddr_in& addr);

struct Request {
    int connection = 0;  // 1 for the first connection accepted, 2 for the next, ...
    Bytes bytes;         // the whole ADU as received

    uint16_t TransactionID() const { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }
    uint8_t Function() const { return bytes[7]; }
    Bytes PduBytes() const { return Bytes(bytes.begin() + 7, bytes.end()); }
};

// One thing the server does in answer to a request.
struct Step {
    enum Kind { kSend, kPause, kClose, kReset };
    Kind kind = kSend;
    Bytes bytes;                              // kSend: one write, TCP_NODELAY set
    std::chrono::milliseconds pause{0};       // kPause
};
inline Step Send(Bytes b) { return {Step::kSend, std::move(b), {}}; }
inline Step Pause(std::chrono::milliseconds ms) { return {Step::kPause, {}, ms}; }
inline Step CloseConnection() { return {Step::kClose, {}, {}}; }
// Closes with SO_LINGER 0: the client gets a reset instead of an orderly close.
inline Step ResetConnection() { return {Step::kReset, {}, {}}; }

// The answer to `r` with the given PDU: its transaction and unit id.
inline Bytes Answer(const Request& r, const Bytes& pdu)
{
    return testing_support::MbapFrame(r.TransactionID(), r.bytes[6], pdu);
}

// The well-behaved device of testing_support::DeviceAnswer.
inline std::vector<Step> Device(const Request& r)
{
    return {Send(Answer(r, testing_support::DeviceAnswer(r.PduBytes())))};
}

class ScriptedTcpServer {
public:
    using Script = std::function<std::vector<Step>(const Request&)>;
    // Runs on each accepted connection before any request.
    using AcceptScript = std::function<std::vector<Step>(int connection)>;

    explicit ScriptedTcpServer(Script onRequest, AcceptScript onAccept = {});
    ~ScriptedTcpServer();

    uint16_t Port() const { return port_; }
    std::vector<Request> Requests() const;
    int Connections() const;
    // n requests have been answered: every step of their scripts has been performed.
    bool WaitForAnswers(size_t n, std::chrono::milliseconds timeout) const;
    bool WaitForConnectionClosed(int connection, std::chrono::milliseconds timeout) const;

private:
    void Run();
    void Serve(int fd, int connection);
    // False when the connection has ended (closed by a step, by the client, or on stop).
    bool Perform(int fd, const std::vector<Step>& steps);
    void Note(const std::function<void()>& change);  // under the lock, then wakes the waits

    Script onRequest_;
    AcceptScript onAccept_;
    int listenFd_ = -1;
    int wakeFd_ = -1;  // eventfd: ends every wait of the server thread at once
    uint16_t port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Request> requests_;
    size_t answers_ = 0;
    int connections_ = 0;
    int closedConnections_ = 0;
    std::thread thread_;
};

}  // namespace tcptest
