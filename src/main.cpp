// ristova: the relay power controller manager. It reads no command-line
// arguments; the program folder is the executable's own folder.
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>

#include "app/MainWindowModel.h"
#include "app/ModuleStartup.h"
#include "app/ui/AppFont.h"
#include "app/ui/MainWindow.h"
#include "base/Files.h"
#include "base/FolderLock.h"
#include "base/ui/QtMainThreadPoster.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM and SIGINT close the window as the operator would, so that the
// shutdown steps run (the demo script stops the program this way).
void CloseOnSignals(QWidget* window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
        window->close();
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setFont(ristova::ui::WindowFont());

    const ristova::ModuleStartupResult startup = ristova::InitializeModule();
    if (!startup.ok) {
        QMessageBox::information(nullptr, QString::fromUtf8(ristova::kMainCaption),
                                 QString::fromStdString(startup.message));
        return 1;
    }
    // A folder that cannot hold the lock file runs as before; one that
    // another Ristova process drives is left to it.
    ristova::FolderLock lock;
    if (lock.Acquire(ristova::ExecutableFolder()) == ristova::FolderLock::Result::InUse) {
        QMessageBox::information(nullptr, QString::fromUtf8(ristova::kMainCaption),
                                 QString::fromUtf8(ristova::kFolderInUse));
        return 1;
    }

    ristova::ui::QtMainThreadPoster poster;
    int rc = 0;
    {
        ristova::MainWindowModel model(poster);
        ristova::ui::TFrmMain window(model);
        poster.SetAfterCall([&window] { window.Sync(); });
        CloseOnSignals(&window);
        window.show();
        rc = app.exec();
        poster.SetAfterCall({});
    }
    return rc;
}
