#pragma once
// A main window over a temporary program folder, with the autostart folders
// inside it, so that no test touches the machine's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/MainWindowModel.h"
#include "app/ui/MainWindow.h"
#include "base/FolderLock.h"
#include "base/ui/QtMainThreadPoster.h"
#include "support/TempDir.h"

namespace ristova::test {

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the model and the window (FormCreate runs); not shown yet.
    // attach: as a window opens on a folder another process runs.
    void Create(bool attach = false);
    std::string Prog(std::string_view name) const { return dir_.Path() + std::string(name); }
    // Writes a UTF-8 text to the program folder in code page 936.
    void WriteProgFile(std::string_view name, std::string_view utf8) const;
    // Where the monitor grid's cell draws a picture of that size: the
    // rendered pixels, and the picture as it should look there (on the row's
    // background, silver for the current row).
    QImage ShownPicture(int col, int row, QSize size) const;
    QImage ExpectedPicture(int row, const QPixmap& picture) const;
    // Runs the event loop until pred() holds or timeoutMs passed.
    static bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

    TempDir dir_;
    FolderLock lock_;
    std::unique_ptr<ui::QtMainThreadPoster> poster_;
    std::unique_ptr<MainWindowModel> model_;
    std::unique_ptr<ui::TFrmMain> window_;
};

}  // namespace ristova::test
