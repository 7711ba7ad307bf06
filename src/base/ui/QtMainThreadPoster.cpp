#include "base/ui/QtMainThreadPoster.h"

#include <QMetaObject>

namespace ristova::ui {

QtMainThreadPoster::QtMainThreadPoster(QObject* parent) : QObject(parent) {}

QtMainThreadPoster::~QtMainThreadPoster() {
    closing_ = true;
}

bool QtMainThreadPoster::Post(std::function<void()> call) {
    if (closing_ || !call) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(std::move(call));
    }
    // One invocation per call, so that the order is the order posted; by
    // name, so that the queued event is Qt's own from end to end.
    return QMetaObject::invokeMethod(this, "RunNext", Qt::QueuedConnection);
}

void QtMainThreadPoster::RunNext() {
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_.empty()) return;
        call = std::move(pending_.front());
        pending_.pop_front();
    }
    call();
    if (afterCall_) afterCall_();
}

}  // namespace ristova::ui
