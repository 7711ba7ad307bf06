#include "base/ui/HandleNotifier.h"

#include <QWinEventNotifier>

namespace ristova::ui {

HandleNotifier::HandleNotifier(NativeHandle handle, std::function<void()> onReady, QObject* parent)
    : QObject(parent) {
    auto* notifier = new QWinEventNotifier(handle, this);
    connect(notifier, &QWinEventNotifier::activated, this,
            [onReady = std::move(onReady)] { onReady(); });
    notifier_ = notifier;
}

void HandleNotifier::SetEnabled(bool enabled) {
    static_cast<QWinEventNotifier*>(notifier_)->setEnabled(enabled);
}

}  // namespace ristova::ui
