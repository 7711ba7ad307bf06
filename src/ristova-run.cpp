// ristova-run: runs the plan of a program folder without a window, as a
// service. Events go to standard output, errors to standard error.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "app/HeadlessRunner.h"
#include "app/ModuleStartup.h"
#include "app/ServiceManager.h"
#include "base/CommandLine.h"
#include "base/DataFolder.h"
#include "base/EventLoop.h"
#include "base/Files.h"
#include "base/FolderLock.h"
#include "base/Process.h"

namespace {

constexpr int kBadOptions = 2;
constexpr int kCannotRun = 1;

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: ristova-run [--folder DIR]\n"
                 "Runs the plan of the program folder's run controller without a window.\n"
                 "\n"
                 "  --folder DIR  the program folder (default: the executable's folder when\n"
                 "                it can be written, else ~/.local/share/ristova/; on\n"
                 "                Windows %%LOCALAPPDATA%%\\Ristova\\)\n"
                 "  --help        this text\n"
                 "  --version     the version\n"
                 "\n"
                 "One line per event on standard output:\n"
                 "  at controller relay kind source result detail\n"
                 "SIGTERM, SIGINT or SIGHUP stop it (on Windows Ctrl+C, a closed console or\n"
                 "the service's stop); exit status 0 then, 1 when it cannot run, 2 for bad\n"
                 "options.\n");
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", ristova::kRunnerName, message.c_str());
    return kCannotRun;
}

int RunnerMain(int argc, char** argv) {
    const ristova::CommandLine cl =
        ristova::ParseCommandLine(ristova::ProgramArguments(argc, argv));
    if (cl.error.empty() && !cl.other.empty()) {
        std::fprintf(stderr, "%s: unknown option: %s\n", ristova::kRunnerName,
                     cl.other.front().c_str());
        Usage(stderr);
        return kBadOptions;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", ristova::kRunnerName, cl.error.c_str());
        Usage(stderr);
        return kBadOptions;
    }
    if (cl.help) {
        Usage(stdout);
        return 0;
    }
    if (cl.version) {
        std::puts(ristova::VersionText(ristova::kRunnerName).c_str());
        return 0;
    }
    // A service names its folder: a mistyped one is reported, not created.
    if (!cl.folder.empty() && !ristova::DirectoryExists(cl.folder))
        return Fail("no such program folder: " + cl.folder +
                    " (name an existing one with --folder)");
    const ristova::ProgramFolder resolved = ristova::ResolveProgramFolder(cl.folder);
    if (!resolved.problem.empty()) return Fail(resolved.problem);
    const std::string folder = resolved.path;

    const ristova::ModuleStartupResult startup = ristova::InitializeModule(folder);
    if (!startup.ok) return Fail(startup.message);

    ristova::FolderLock lock;
    switch (lock.Acquire(folder)) {
        case ristova::FolderLock::Result::Locked:
            break;
        case ristova::FolderLock::Result::InUse:
            return Fail(std::string(ristova::kFolderInUse) + ": " + folder);
        case ristova::FolderLock::Result::Link:
            return Fail("锁文件是符号链接: " + lock.Error() +
                        " (remove it; the lock file is never a link)");
        case ristova::FolderLock::Result::Failed:
            return Fail("程序文件夹不可写: " + lock.Error() +
                        " (give the user that runs ristova-run write permission on it)");
    }

#ifdef SIGPIPE
    // A reader of standard output that went away (a pipe closed with its
    // terminal) must not end the run before its journal is written out.
    std::signal(SIGPIPE, SIG_IGN);
#endif
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

}  // namespace

int main(int argc, char** argv) {
    return ristova::service::RunAsServiceOrConsole(RunnerMain, argc, argv);
}
