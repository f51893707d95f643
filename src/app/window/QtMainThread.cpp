#include "QtMainThread.h"

#include <QMetaObject>

namespace tarnwick {

void QtMainThread::Post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void QtMainThread::ShowException(const std::string& message)
{
    if (showException_)
        showException_(message);
}

}  // namespace tarnwick
