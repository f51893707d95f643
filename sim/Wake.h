#pragma once

// A stop signal that any poll() can wait on: once raised it stays readable.

#include <chrono>

namespace vsim {

class TWake {
public:
    TWake();
    ~TWake();
    TWake(const TWake&) = delete;
    TWake& operator=(const TWake&) = delete;

    int Fd() const { return fd_; }
    void Raise();
    bool Raised() const;
    // Sleeps, but returns false at once when the wake is raised.
    bool Sleep(std::chrono::milliseconds d) const;

private:
    int fd_;
};

}  // namespace vsim
