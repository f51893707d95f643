#pragma once

// The Modbus library's way into the GUI thread: queued calls on an object of that thread.
// Calls posted after the object is gone are dropped by Qt.

#include "MainThread.h"

#include <QObject>
#include <functional>

namespace tarnwick {

class QtMainThread final : public QObject, public modbus::IMainThread {
public:
    explicit QtMainThread(std::function<void(const std::string&)> showException)
        : showException_(std::move(showException)) {}

    void Post(std::function<void()> fn) override;
    void ShowException(const std::string& message) override;

private:
    std::function<void(const std::string&)> showException_;
};

}  // namespace tarnwick
