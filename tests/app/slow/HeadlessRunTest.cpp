// The built ristova-run as an operator starts it: against the simulated
// controller on a real pseudo-terminal, stopped by signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "app/HeadlessRunner.h"
#include "app/RunnerFixture.h"
#include "base/Clock.h"
#include "base/EventLoop.h"
#include "base/FolderLock.h"
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

    // A usable controller, but named by a path through "..": refused by
    // either key, never read from wherever the path leads.
    WriteController(4, dir.File("no-tty"));
    const std::string self = dir.Path().substr(0, dir.Path().size() - 1);
    const std::string outside = "../" + self.substr(self.rfind('/') + 1) + "/" + kController;
    for (const char* key : {"sPowerFn", "Controllers"}) {
        WriteIniText(ctx.settingsFile, "RUN", key, outside);
        ASSERT_TRUE(StartRunner(child));
        EXPECT_TRUE(ReadUntil(child, "控制器名称无效", lines, 3000)) << key;
        ASSERT_TRUE(child.WaitExit(3000));
        EXPECT_EQ(ExitCode(child.Status()), 1);
        EXPECT_NE(lines.back().find(outside), std::string::npos) << lines.back();
        WriteIniText(ctx.settingsFile, "RUN", key, std::string(key) == "sPowerFn" ? kController : "");
    }

    // A controller file of random bytes cannot run: named, not run as empty.
    dir.Write(kController, "\x8f\xa3\x01\xfe=\r\n[\xc0\x11\xff\x7f]\r\n\x92\x05");
    ASSERT_TRUE(StartRunner(child));
    EXPECT_TRUE(ReadUntil(child, "控制器文件无法使用", lines, 3000));
    ASSERT_TRUE(child.WaitExit(3000));
    EXPECT_EQ(ExitCode(child.Status()), 1);
    EXPECT_NE(lines.back().find(ControllerFile()), std::string::npos) << lines.back();

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

    // SIGHUP: the terminal or the ssh session that started it closed.
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
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
    EXPECT_EQ(starts, 3);
    EXPECT_EQ(stops, 3);
    EXPECT_EQ(planOn, 1);
}

// A decoder that never returns costs the states only: the plan's commands
// keep their seconds, the failure is told with the plug-in's path, and a
// stop signal still ends the runner at once.
TEST_F(HeadlessRunTest, ADecoderThatHangsHoldsUpNeitherThePlanNorTheStop) {
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    const std::time_t due = std::time(nullptr) + 5;
    MakeFolder(sim.SlavePath(), due,
               {{"1", test::TimeText(due), "接通"}, {"2", test::TimeText(due + 2), "接通"}});
    const std::string plugin = dir.File("PowerDll/sleepy.so");
    ASSERT_EQ(::symlink(RISTOVA_TEST_PLUGIN_DIR "sleepy.so", plugin.c_str()), 0);
    WriteIniText(ControllerFile(), "LOAD", "sPowerDllFn", "sleepy.so");
    test::ChildProcess runner;
    ASSERT_TRUE(StartRunner(runner));
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadUntil(runner, " 2 on plan sent ", lines, test::kProgramStartMs));
    const std::string late = "no answer within 500 ms";
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "ristova-run: 泵房.PSW: 状态数据处理程序出错:" + plugin + ": " + late),
              lines.end());
    int told = 0;
    for (const std::string& line : lines)
        told += line.ends_with(" 0 run engine decoder-failed " + plugin + ": " + late);
    EXPECT_GE(told, 1);
    // The simulator's log may lag behind the runner's line.
    auto logged = [&] {
        for (const test::SimulatorCommand& c : sim.Commands())
            if (c.text == test::OnCommand(2)) return true;
        return false;
    };
    for (int i = 0; i < 100 && !logged(); ++i) usleep(30'000);
    for (int relay : {1, 2}) {
        const auto second = std::chrono::system_clock::from_time_t(due + 2 * (relay - 1));
        bool found = false;
        for (const test::SimulatorCommand& c : sim.Commands()) {
            if (c.text != test::OnCommand(relay)) continue;
            found = true;
            EXPECT_GE(c.firstByte - second, std::chrono::milliseconds(0)) << relay;
            EXPECT_LT(c.firstByte - second, std::chrono::milliseconds(500)) << relay;
        }
        EXPECT_TRUE(found) << relay;
    }
    kill(runner.Pid(), SIGTERM);
    EXPECT_TRUE(ReadUntil(runner, " run engine stopped program end", lines, 5000));
    ASSERT_TRUE(runner.WaitExit(5000));
    EXPECT_EQ(ExitCode(runner.Status()), 0);
}

// Input that keeps the run from doing all its work gets a line on standard
// error and an event in the journal, and the run goes on.
TEST_F(HeadlessRunTest, BrokenInputIsToldOnStandardErrorAndInTheJournal) {
    test::PtyPair line;
    MakeFolder(
        line.SlavePath(), 0,
        {{"1", "25:00:00", "接通"}, {"2", test::TimeText(std::time(nullptr) + 3600), "接通"}});
    WriteIniText(ControllerFile(), "LOAD", "sPowerDllFn", "Missing.so");
    WriteIniText(ControllerFile(), "LOAD", "spComChl", "40");
    WriteIniText(ControllerFile(), "COMM", "Parity", "9");
    test::ChildProcess runner;
    ASSERT_TRUE(StartRunner(runner));
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadUntil(runner, "ristova-run: 泵房.PSW: 继电器数量无效:40", lines, 5000));
    kill(runner.Pid(), SIGTERM);
    ASSERT_TRUE(runner.WaitExit(5000));
    EXPECT_EQ(ExitCode(runner.Status()), 0);
    auto told = [&](const std::string& text) {
        return std::count(lines.begin(), lines.end(), "ristova-run: 泵房.PSW: " + text);
    };
    EXPECT_EQ(told("校验位无效:9"), 1);
    EXPECT_EQ(told("计划表中有1行无法识别,未执行"), 1);
    EXPECT_EQ(
        told("状态数据处理程序无法加载:" + dir.File("PowerDll/Missing.so") + ": no such file"), 1);

    std::vector<std::string> results;
    for (const run::RunEvent& e :
         run::ReadJournalDay(dir.File(run::kJournalFileName), kController, test::Today())) {
        if (e.kind == "run" && e.source == "engine" && e.result != "plan chosen" &&
            e.result != "started" && e.result != "stopped")
            results.push_back(e.result + " " + e.detail);
    }
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results,
              (std::vector<std::string>{
                  "decoder-not-loaded " + dir.File("PowerDll/Missing.so") + ": no such file",
                  "plan-rows-unreadable 1", "setting-invalid 校验位无效:9",
                  "setting-invalid 继电器数量无效:40"}));
}

// A tick that fails (a rate that is no number when midnight starts the new
// day) is told once; the process goes on and starts the engine again once
// the file is mended. The runner runs on a thread of its own, which alone
// blocks the stop signals.
TEST_F(HeadlessRunTest, AFailedTickIsToldOnceAndTheRunnerStartsTheEngineAgain) {
    test::PtyPair line;
    MakeFolder(line.SlavePath(), std::time(nullptr) + 3600);
    const Date day{2012, 3, 18};
    clock.Set(day, 23, 59, 59);
    char* outText = nullptr;
    char* errText = nullptr;
    std::size_t outSize = 0, errSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    std::FILE* err = open_memstream(&errText, &errSize);
    std::string startError, escaped;
    bool restarted = false;
    std::thread([&] {
        EventLoop loop;
        HeadlessRunner runner(loop, dir.Path(), out, err, &clock);
        startError = runner.Start();
        if (!startError.empty()) return;
        WriteIniText(ControllerFile(), "COMM", "edBound", "abc");
        clock.Set(day.AddDays(1), 0, 0, 1);
        const auto begin = std::chrono::steady_clock::now();
        IntervalTimer watch;
        watch.Start(100);
        bool mended = false;
        loop.Watch(watch.Handle(), [&] {
            watch.Read();
            const auto waited = std::chrono::steady_clock::now() - begin;
            std::fflush(err);
            // Long enough for two more tries before the file is mended.
            if (!mended && waited > std::chrono::seconds(6) && errSize > 0) {
                WriteIniText(ControllerFile(), "COMM", "edBound", "9600");
                mended = true;
            }
            restarted = mended && runner.Core().GetSite().AnyRunning();
            if (restarted || waited > std::chrono::seconds(30)) loop.Quit();
        });
        try {
            runner.Run();
        } catch (const std::exception& e) {
            escaped = e.what();
        }
        loop.Unwatch(watch.Handle());
    }).join();
    std::fclose(out);
    std::fclose(err);
    const std::string output(outText, outSize);
    std::string errors(errText, errSize);
    // The restore hint of every start is no error.
    if (errors.starts_with("ristova-run: hint:")) errors.erase(0, errors.find('\n') + 1);
    std::free(outText);
    std::free(errText);
    ASSERT_EQ(startError, "");
    EXPECT_EQ(escaped, "");
    EXPECT_TRUE(restarted);
    EXPECT_EQ(errors, "ristova-run: 泵房.PSW: 'abc' is not a valid integer value\n");
    EXPECT_NE(output.find(" 0 run engine error 'abc' is not a valid integer value\n"),
              std::string::npos)
        << output;
    int told = 0, starts = 0;
    for (const run::RunEvent& e :
         run::ReadJournalDay(dir.File(run::kJournalFileName), kController, day.AddDays(1))) {
        told += e.result == "error" && e.detail == "'abc' is not a valid integer value";
        starts += e.result == "started";
    }
    EXPECT_EQ(told, 1);
    EXPECT_EQ(starts, 1);
}

// A reader that stops reading (a terminal paused with Ctrl-S, a pipe nobody
// empties) holds up no timed command; its lines follow once it reads again.
TEST_F(HeadlessRunTest, AStandardOutputNobodyReadsHoldsUpNoTimedCommand) {
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    const std::time_t due = std::time(nullptr) + 3;
    MakeFolder(sim.SlavePath(), due);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    // Full before the runner's first line.
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    std::size_t junk = 0;
    for (char c = 'x'; write(fds[1], &c, 1) == 1;) ++junk;
    fcntl(fds[1], F_SETFL, 0);
    std::FILE* out = fdopen(fds[1], "w");
    char* errText = nullptr;
    std::size_t errSize = 0;
    std::FILE* err = open_memstream(&errText, &errSize);
    std::atomic<bool> done{false};
    std::thread runnerThread([&] {
        EventLoop loop;
        HeadlessRunner runner(loop, dir.Path(), out, err);
        if (!runner.Start().empty()) return;
        IntervalTimer watch;
        watch.Start(50);
        loop.Watch(watch.Handle(), [&] {
            watch.Read();
            if (done) loop.Quit();
        });
        runner.Run();
        loop.Unwatch(watch.Handle());
    });
    bool found = false;
    for (int i = 0; i < 300 && !found; ++i) {
        for (const test::SimulatorCommand& c : sim.Commands()) {
            if (c.text != test::OnCommand(2)) continue;
            found = true;
            EXPECT_LT(c.firstByte - std::chrono::system_clock::from_time_t(due),
                      std::chrono::milliseconds(500));
        }
        if (!found) usleep(30'000);
    }
    EXPECT_TRUE(found);
    done = true;
    std::string output;
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
    });
    runnerThread.join();
    std::fclose(out);
    reader.join();
    close(fds[0]);
    std::fclose(err);
    std::free(errText);
    ASSERT_GE(output.size(), junk);
    output.erase(0, junk);
    EXPECT_NE(output.find(" 2 on plan sent "), std::string::npos) << output;
    EXPECT_NE(output.find(" run engine stopped program end"), std::string::npos) << output;
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
