#include "MainThread.h"

#include <iostream>

namespace modbus {

void EventQueue::Post(std::function<void()> fn)
{
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(fn));
    }
    posted_.notify_one();
}

void EventQueue::ShowException(const std::string& message)
{
    if (OnException)
        OnException(message);
    else
        std::cerr << message << '\n';
}

int EventQueue::ProcessEvents()
{
    int ran = 0;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            if (calls_.empty())
                return ran;
            fn = std::move(calls_.front());
            calls_.pop_front();
        }
        try {
            fn();
        } catch (const std::exception& e) {
            ShowException(e.what());
        }
        ++ran;
    }
}

bool EventQueue::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        ProcessEvents();
        if (done())
            return true;
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [this] { return !calls_.empty(); }))
            break;
    }
    ProcessEvents();
    return done();
}

}  // namespace modbus
