#pragma once

// How the worker threads reach the application's main thread. The Qt program queues calls into
// its GUI thread; the command-line client and the tests pump an EventQueue.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace modbus {

class IMainThread {
public:
    virtual ~IMainThread() = default;
    // Runs fn later on the main thread, in posting order. Any thread.
    virtual void Post(std::function<void()> fn) = 0;
    // The application's exception display. Main thread.
    virtual void ShowException(const std::string& message) = 0;
};

class EventQueue final : public IMainThread {
public:
    using Clock = std::chrono::steady_clock;

    void Post(std::function<void()> fn) override;
    void ShowException(const std::string& message) override;

    // Runs everything already posted; returns how many calls ran.
    int ProcessEvents();
    // Runs posted calls until done() holds or the time is up; true when done() held.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    std::function<void(const std::string&)> OnException;  // default: standard error

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> calls_;
};

}  // namespace modbus
