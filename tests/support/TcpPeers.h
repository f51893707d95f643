#pragma once

// Loopback endpoints that make a connect fail in a known way.

#include <cstdint>
#include <vector>

namespace tcptest {

// A loopback TCP socket bound to an ephemeral port, which it stores in `port`. Not listening,
// it refuses connections, and no other socket can take the port while it is open.
int LoopbackSocket(uint16_t& port);

// A loopback listener with backlog 0 that never accepts, its accept queue filled by connections
// of its own: Linux then drops further SYNs, so a connect to it stays pending until the
// client's own time limit. Full() is false when the queue could not be seen to fill.
class FullBacklogListener {
public:
    FullBacklogListener();
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;
    uint16_t Port() const { return port_; }
    bool Full() const { return full_; }

private:
    int listenFd_ = -1;
    std::vector<int> fillers_;
    uint16_t port_ = 0;
    bool full_ = false;
};

}  // namespace tcptest
