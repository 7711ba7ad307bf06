// The console's control handler runs on a thread of its own; it queues the
// close on the window's thread.
#include "app/ui/StopSignals.h"

#include <windows.h>
#include <QMetaObject>
#include <QPointer>

#include "app/ui/MainWindow.h"

namespace ristova::ui {

namespace {

QPointer<TFrmMain> closing;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type > CTRL_CLOSE_EVENT) return FALSE;
    QMetaObject::invokeMethod(
        closing.data(),
        [] {
            if (closing) closing->CloseWithoutAsking();
        },
        Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

void CloseOnStopSignals(TFrmMain* window) {
    closing = window;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace ristova::ui
