// The built ristova-run as an operator starts it: against the simulated
// controller on a real pseudo-terminal, stopped by signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/FolderLock.h"
#include "app/RunnerFixture.h"
#include "run/Journal.h"
#include "support/ChildProcess.h"
#include "support/Simulator.h"

namespace ristova {
namespace {

using test::ExitCode;
using test::ReadUntil;
using test::RunnerPath;

class HeadlessRunTest : public ::testing::Test, public test::RunnerFixture {};

TEST_F(HeadlessRunTest, OptionsAndFoldersItCannotRunSayWhy) {
    test::ChildProcess child;
    std::vector<std::string> lines;
    test::ChildProcess::Options o;
    o.captureStdout = true;
    o.stderrToStdout = true;

    ASSERT_TRUE(child.Start({RunnerPath(), "--help"}, o));
    EXPECT_TRUE(ReadUntil(child, "--folder DIR", lines, test::kProgramStartMs));
    ASSERT_TRUE(child.WaitExit(3000));
    EXPECT_EQ(ExitCode(child.Status()), 0);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{RunnerPath(), "--bogus"},
          std::vector<std::string>{RunnerPath(), "--folder"}}) {
        ASSERT_TRUE(child.Start(bad, o));
        ASSERT_TRUE(child.WaitExit(3000));
        EXPECT_EQ(ExitCode(child.Status()), 2) << bad.back();
    }

    ASSERT_TRUE(child.Start({RunnerPath(), "--folder", dir.File("nowhere")}, o));
    EXPECT_TRUE(ReadUntil(child, "no such program folder", lines, 3000));
    ASSERT_TRUE(child.WaitExit(3000));
    EXPECT_EQ(ExitCode(child.Status()), 1);

    // The settings name a controller that the folder does not hold.
    ASSERT_TRUE(StartRunner(child));
    EXPECT_TRUE(ReadUntil(child, "没有运行控制器", lines, 3000));
    ASSERT_TRUE(child.WaitExit(3000));
    EXPECT_EQ(ExitCode(child.Status()), 1);
    EXPECT_NE(lines.back().find("泵房.PSW"), std::string::npos) << lines.back();

    // A folder it cannot write to (root writes anywhere: nothing to see then).
    if (geteuid() != 0) {
        test::SimulatorProcess sim;
        ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
        MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
        ::chmod(dir.Path().c_str(), 0555);
        ASSERT_TRUE(StartRunner(child));
        EXPECT_TRUE(ReadUntil(child, "不可写", lines, 3000));
        ASSERT_TRUE(child.WaitExit(3000));
        EXPECT_EQ(ExitCode(child.Status()), 1);
        ::chmod(dir.Path().c_str(), 0755);
    }
}

TEST_F(HeadlessRunTest, RunsThePlanOnTheSecondAndStopsCleanlyOnSignals) {
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    const std::time_t due = std::time(nullptr) + 3;
    MakeFolder(sim.SlavePath(), due);

    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        test::ChildProcess runner;
        ASSERT_TRUE(StartRunner(runner));
        std::vector<std::string> lines;
        ASSERT_TRUE(ReadUntil(runner, " run engine started", lines, test::kProgramStartMs));
        if (signal == SIGTERM) {
            // The timed command, on its second, as an event line and on the line.
            ASSERT_TRUE(ReadUntil(runner, " 2 on plan sent ", lines, 6000));
            bool found = false;
            for (int i = 0; i < 100 && !found; ++i) {
                for (const test::SimulatorCommand& c : sim.Commands()) {
                    if (c.text != test::OnCommand(2)) continue;
                    found = true;
                    const auto late = c.firstByte - std::chrono::system_clock::from_time_t(due);
                    EXPECT_GE(late, std::chrono::milliseconds(0));
                    EXPECT_LT(late, std::chrono::milliseconds(500));
                }
                if (!found) usleep(30'000);
            }
            EXPECT_TRUE(found);
            // The board's answer decoded: relay 2 is on.
            EXPECT_TRUE(ReadUntil(runner, " 2 state board 1 ", lines, 4000));
        }
        kill(runner.Pid(), signal);
        EXPECT_TRUE(ReadUntil(runner, " run engine stopped program end", lines, 5000));
        ASSERT_TRUE(runner.WaitExit(5000));
        EXPECT_EQ(ExitCode(runner.Status()), 0);
    }

    // Everything printed is in the journal, written out before the exit.
    const Date today = test::Today();
    int starts = 0, stops = 0, planOn = 0;
    for (const run::RunEvent& e :
         run::ReadJournalDay(dir.File(run::kJournalFileName), kController, today)) {
        starts += e.kind == "run" && e.result == "started";
        stops += e.kind == "run" && e.result == "stopped";
        planOn += e.kind == "on" && e.source == "plan" && e.relay == 2 && e.result == "sent";
    }
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(stops, 2);
    EXPECT_EQ(planOn, 1);
}

TEST_F(HeadlessRunTest, OneFolderHasOneRunner) {
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);

    test::ChildProcess first;
    ASSERT_TRUE(StartRunner(first));
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadUntil(first, " run engine started", lines, test::kProgramStartMs));

    test::ChildProcess second;
    ASSERT_TRUE(StartRunner(second));
    EXPECT_TRUE(ReadUntil(second, kFolderInUse, lines, 3000));
    ASSERT_TRUE(second.WaitExit(3000));
    EXPECT_EQ(ExitCode(second.Status()), 1);
    EXPECT_TRUE(first.Running());

    // The window takes the same lock.
    FolderLock window;
    EXPECT_EQ(window.Acquire(dir.Path()), FolderLock::Result::InUse);

    // However the holder ends, the folder is free again.
    kill(first.Pid(), SIGKILL);
    ASSERT_TRUE(first.WaitExit(3000));
    EXPECT_EQ(window.Acquire(dir.Path()), FolderLock::Result::Locked);
    window.Release();
    ASSERT_TRUE(StartRunner(second));
    EXPECT_TRUE(ReadUntil(second, " run engine started", lines, test::kProgramStartMs));
}

// The service manager's side of sd_notify: a datagram socket in the folder.
TEST_F(HeadlessRunTest, TellsTheServiceManagerItIsReadyAndAliveEachSecond) {
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = dir.File("notify");
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    path.copy(addr.sun_path, path.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    auto receive = [&](int timeoutMs) {
        pollfd p{sock, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return std::string("(nothing)");
        char buffer[512];
        const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    };

    test::ChildProcess runner;
    const std::vector<std::string> env{"NOTIFY_SOCKET=" + path, "PATH=/usr/bin:/bin"};
    test::ChildProcess::Options o;
    o.captureStdout = true;
    o.env = &env;
    ASSERT_TRUE(runner.Start({RunnerPath(), "--folder", dir.Path()}, o));
    EXPECT_EQ(receive(5000), "READY=1");
    EXPECT_EQ(receive(2500), "WATCHDOG=1");
    EXPECT_EQ(receive(2500), "WATCHDOG=1");
    kill(runner.Pid(), SIGTERM);
    EXPECT_EQ(receive(3000), "STOPPING=1");
    ASSERT_TRUE(runner.WaitExit(5000));
    EXPECT_EQ(ExitCode(runner.Status()), 0);
    ::close(sock);
}

}  // namespace
}  // namespace ristova
