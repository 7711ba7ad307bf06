// ristova-run: runs the plan of a program folder without a window, as a
// service. Events go to standard output, errors to standard error.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "app/HeadlessRunner.h"
#include "app/ModuleStartup.h"
#include "base/EventLoop.h"
#include "base/Files.h"
#include "base/FolderLock.h"

#ifndef RISTOVA_VERSION
#define RISTOVA_VERSION "0"
#endif

namespace {

constexpr int kBadOptions = 2;
constexpr int kCannotRun = 1;

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: ristova-run [--folder DIR]\n"
                 "Runs the plan of the program folder's run controller without a window.\n"
                 "\n"
                 "  --folder DIR  the program folder (default: the executable's folder)\n"
                 "  --help        this text\n"
                 "  --version     the version\n"
                 "\n"
                 "One line per event on standard output:\n"
                 "  at controller relay kind source result detail\n"
                 "SIGTERM or SIGINT stop it; exit status 0 then, 1 when it cannot run,\n"
                 "2 for bad options.\n");
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", ristova::kRunnerName, message.c_str());
    return kCannotRun;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s %s\n", ristova::kRunnerName, RISTOVA_VERSION);
            return 0;
        }
        if (arg == "--folder" && i + 1 < argc && argv[i + 1][0] != '\0') {
            folder = argv[++i];
        } else if (arg.rfind("--folder=", 0) == 0 && arg.size() > 9) {
            folder = arg.substr(9);
        } else {
            std::fprintf(stderr, "%s: %s: %s\n", ristova::kRunnerName,
                         arg == "--folder" || arg == "--folder=" ? "option needs a folder"
                                                                 : "unknown option",
                         arg.c_str());
            Usage(stderr);
            return kBadOptions;
        }
    }
    folder = ristova::IncludeTrailingSeparator(folder.empty() ? ristova::ExecutableFolder()
                                                              : folder);
    if (!ristova::DirectoryExists(folder))
        return Fail("no such program folder: " + folder + " (name an existing one with --folder)");

    const ristova::ModuleStartupResult startup = ristova::InitializeModule(folder);
    if (!startup.ok) return Fail(startup.message);

    ristova::FolderLock lock;
    switch (lock.Acquire(folder)) {
        case ristova::FolderLock::Result::Locked:
            break;
        case ristova::FolderLock::Result::InUse:
            return Fail(std::string(ristova::kFolderInUse) + ": " + folder);
        case ristova::FolderLock::Result::Failed:
            return Fail("程序文件夹不可写: " + lock.Error() +
                        " (give the user that runs ristova-run write permission on it)");
    }

    try {
        // Before any thread starts: they inherit the blocked stop signals.
        ristova::EventLoop loop;
        ristova::HeadlessRunner runner(loop, folder);
        const std::string error = runner.Start();
        if (!error.empty()) return Fail(error);
        runner.Run();
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return 0;
}
