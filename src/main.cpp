// ristova: the relay power controller manager. The program folder is the
// executable's own folder, or the per-user data folder when that cannot be
// written, or the one given with --folder.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/MainWindowModel.h"
#include "app/ModuleStartup.h"
#include "app/ui/AppFont.h"
#include "app/ui/AppLocale.h"
#include "app/ui/MainWindow.h"
#include "app/ui/StopSignals.h"
#include "base/CommandLine.h"
#include "base/DataFolder.h"
#include "base/FolderLock.h"
#include "base/Process.h"
#include "base/ui/QtMainThreadPoster.h"

constexpr const char* kUsage =
    "Usage: ristova [--folder DIR] [Qt options]\n"
    "  --folder DIR  use DIR as the program folder (settings, controllers, plans,\n"
    "                PowerDll/, journal)\n"
    "  --help        show this help\n"
    "  --version     show the version\n";

int main(int argc, char** argv) {
    // Before the application object: these need no display.
    const ristova::CommandLine cl =
        ristova::ParseCommandLine(ristova::ProgramArguments(argc, argv));
    if (!cl.error.empty()) {
        std::fprintf(stderr, "ristova: %s\n%s", cl.error.c_str(), kUsage);
        return 2;
    }
    if (cl.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (cl.version) {
        std::puts(ristova::VersionText("ristova").c_str());
        return 0;
    }
    // Qt sees the arguments without ours.
    std::vector<std::string> qtOwn = cl.other;
    const bool freeType =
        ristova::ui::WantsFreeType(qtOwn, std::getenv("QT_QPA_PLATFORM"), ristova::UnderWine());
    if (freeType) qtOwn.insert(qtOwn.begin(), {"-platform", ristova::ui::kFreeTypePlatform});
    std::vector<char*> qtArgs{argv[0]};
    for (std::string& arg : qtOwn) qtArgs.push_back(arg.data());
    int qtArgc = static_cast<int>(qtArgs.size());
    qtArgs.push_back(nullptr);
    QApplication app(qtArgc, qtArgs.data());
    if (freeType) ristova::ui::LoadFontCollections();
    app.setFont(ristova::ui::WindowFont());
    ristova::ui::LoadQtChinese(app);

    const ristova::ProgramFolder folder = ristova::ResolveProgramFolder(cl.folder);
    if (!folder.problem.empty()) {
        QMessageBox::information(nullptr, QString::fromUtf8(ristova::kMainCaption),
                                 QString::fromStdString(folder.problem));
        return 1;
    }
    const ristova::ModuleStartupResult startup = ristova::InitializeModule(folder.path);
    if (!startup.ok) {
        QMessageBox::information(nullptr, QString::fromUtf8(ristova::kMainCaption),
                                 QString::fromStdString(startup.message));
        return 1;
    }
    // A folder that cannot hold the lock file runs as before; one that
    // another Ristova process drives is shown through that process's API.
    ristova::FolderLock lock;
    const bool attach = lock.Acquire(folder.path) == ristova::FolderLock::Result::InUse;

    ristova::ui::QtMainThreadPoster poster;
    int rc = 0;
    {
        ristova::MainWindowOptions options;
        options.programFolder = folder.path;
        options.attach = attach;
        options.takeLock = [&lock, &folder] {
            return lock.Acquire(folder.path) == ristova::FolderLock::Result::Locked;
        };
        ristova::MainWindowModel model(poster, std::move(options));
        ristova::ui::TFrmMain window(model);
        poster.SetAfterCall([&window] { window.Sync(); });
        ristova::ui::CloseOnStopSignals(&window);
        window.show();
        rc = app.exec();
        poster.SetAfterCall({});
    }
    return rc;
}
