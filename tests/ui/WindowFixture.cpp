#include "WindowFixture.h"

#include <QPainter>
#include <QThread>
#include <cstdlib>

#include "base/Codec.h"
#include "base/Files.h"
#include "run/ui/MonitorGrid.h"
#include "app/ui/MonitorPage.h"

namespace ristova::test {

void WindowFixture::SetUp() {
    setenv("XDG_CONFIG_DIRS", (dir_.Path() + ".xdg").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_.Path() + ".home").c_str(), 1);
}

void WindowFixture::TearDown() {
    if (window_) {
        window_->CloseWithoutAsking();
        window_.reset();
    }
    model_.reset();
    poster_.reset();
    unsetenv("XDG_CONFIG_DIRS");
    unsetenv("XDG_CONFIG_HOME");
}

void WindowFixture::Create(bool attach) {
    poster_ = std::make_unique<ui::QtMainThreadPoster>();
    MainWindowOptions o;
    o.programFolder = dir_.Path();
    o.attach = attach;
    o.takeLock = [this] { return lock_.Acquire(dir_.Path()) == FolderLock::Result::Locked; };
    model_ = std::make_unique<MainWindowModel>(*poster_, o);
    window_ = std::make_unique<ui::TFrmMain>(*model_);
    poster_->SetAfterCall([this] { window_->Sync(); });
}

void WindowFixture::WriteProgFile(std::string_view name, std::string_view utf8) const {
    const std::string path = Prog(name);
    ForceDirectories(ExtractFilePath(path));
    WriteFileAtomically(path, codec::ToCodePage(utf8));
}

QImage WindowFixture::ShownPicture(int col, int row, QSize size) const {
    ui::MonitorGrid* grid = window_->Page0()->sgState();
    const QRect cell = grid->CellRect(col, row);
    const int y = (cell.top() + cell.top() + cell.height() - size.height()) / 2;
    return grid->grab()
        .toImage()
        .convertToFormat(QImage::Format_RGB32)
        .copy(QRect(QPoint(cell.left() + 3, y), size));
}

QImage WindowFixture::ExpectedPicture(int row, const QPixmap& picture) const {
    QImage want(picture.size(), QImage::Format_RGB32);
    const bool current = model_->Monitor().sgState().Row() == row;
    want.fill(current ? ui::MonitorGrid::kCurrentRowColour
                      : window_->Page0()->sgState()->palette().color(QPalette::Window));
    QPainter(&want).drawPixmap(0, 0, picture);
    return want;
}

bool WindowFixture::WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace ristova::test
