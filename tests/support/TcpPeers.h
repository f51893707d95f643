#pragma once

#include <cstdint>
#include <vector>

namespace tcptest {

// Bound to an ephemeral loopback port, stored in `port`; not listening, so it refuses connections.
int LoopbackSocket(uint16_t& port);

// Its backlog-0 queue filled by its own connects, so Linux drops SYNs: a connect stays pending.
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
