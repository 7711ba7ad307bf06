#include "base/ui/QtMainThreadPoster.h"

#include <QMetaObject>

namespace ristova::ui {

QtMainThreadPoster::QtMainThreadPoster(QObject* parent) : QObject(parent) {}

QtMainThreadPoster::~QtMainThreadPoster() {
    closing_ = true;
}

bool QtMainThreadPoster::Post(std::function<void()> call) {
    if (closing_ || !call) return false;
    return QMetaObject::invokeMethod(
        this,
        [this, call = std::move(call)] {
            call();
            if (afterCall_) afterCall_();
        },
        Qt::QueuedConnection);
}

}  // namespace ristova::ui
