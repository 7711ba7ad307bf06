#include "base/ui/HandleNotifier.h"

#include <QSocketNotifier>

namespace ristova::ui {

HandleNotifier::HandleNotifier(NativeHandle handle, std::function<void()> onReady, QObject* parent)
    : QObject(parent) {
    auto* notifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this,
            [onReady = std::move(onReady)] { onReady(); });
    notifier_ = notifier;
}

void HandleNotifier::SetEnabled(bool enabled) {
    static_cast<QSocketNotifier*>(notifier_)->setEnabled(enabled);
}

}  // namespace ristova::ui
