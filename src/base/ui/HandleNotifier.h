#pragma once
// Calls back on the GUI thread whenever a native handle is ready: a
// readable descriptor (posix/: QSocketNotifier), a signalled HANDLE
// (win32/: QWinEventNotifier). The handle stays the caller's.
#include <QObject>
#include <functional>

#include "base/NativeHandle.h"

namespace ristova::ui {

class HandleNotifier : public QObject {
  public:
    HandleNotifier(NativeHandle handle, std::function<void()> onReady, QObject* parent);
    void SetEnabled(bool enabled);

  private:
    QObject* notifier_ = nullptr;
};

}  // namespace ristova::ui
