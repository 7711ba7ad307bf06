// How quickly the broker link of ristova-run passes messages, and what a
// broker that is stalled or gone costs the timed commands. A real mosquitto
// (the tests' fixture: 127.0.0.1, a free port), the built ristova-run on a
// folder of its own and the simulated board, whose log has the arrival of
// each command's first byte (CLOCK_REALTIME, as our own time stamps).
//
//  (a) a "set" published on the broker to the first byte at the board;
//  (b) a state change at the board (a switch command written to its
//      terminal beside the runner) to the state message on the broker;
//  (c) the timed commands, from the start of their second to the first
//      byte, with the broker up (idle, then busy with (a) and (b)), stalled
//      with SIGSTOP and stopped.
//
// Relays 1 to 4 serve (a) and (b), relays 5 to 8 the plan.
// Usage: bench_mqtt_latency
#include <fcntl.h>
#include <mosquitto.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "SimController.h"
#include "app/ModuleStartup.h"
#include "base/Codec.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/StringGrid.h"
#include "base/TextUtils.h"
#include "comm/CommWorkers.h"
#include "remote/MqttSettings.h"
#include "support/Broker.h"
#include "support/ChildProcess.h"
#include "support/Simulator.h"

using namespace ristova;
using Wall = std::chrono::system_clock;
using std::chrono::milliseconds;

namespace {

constexpr int kRelays = 8;
constexpr int kSets = 100;
constexpr int kBoardChanges = 10;
constexpr int kPlanSeconds = 60;
constexpr int kStallSeconds = 6;
constexpr int kDownSeconds = 6;
constexpr const char* kPrefix = "bench/site";
constexpr const char* kControllerFile = "模拟.PSW";

using bench::Command;
using bench::Hex;
int CommandRelay(const std::string& frame) {
    return frame.size() >= 8 && frame[0] == 'O' ? std::atoi(frame.substr(5, 2).c_str()) : 0;
}

int LocalDaySecond(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + std::min(local.tm_sec, 59);
}

double Ms(Wall::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string Summary(std::vector<double> v) {
    if (v.empty()) return "no samples";
    std::sort(v.begin(), v.end());
    const auto over10 = std::count_if(v.begin(), v.end(), [](double ms) { return ms > 10; });
    char text[128];
    std::snprintf(text, sizeof text, "median %.2f ms, worst %.2f ms (%zu samples, %td over 10 ms)",
                  v[v.size() / 2], v.back(), v.size(), over10);
    return text;
}

// Our side of the broker: publishes, and keeps the state messages with
// their arrival times.
class Client {
  public:
    explicit Client(int port) {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
            static_cast<Client*>(self)->Received(m);
        });
        ok_ = mosquitto_connect(mosq_, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS;
        const std::string states = std::string(kPrefix) + "/+/relay/+/state";
        mosquitto_subscribe(mosq_, nullptr, states.c_str(), 0);
        ok_ = ok_ && mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
    }
    ~Client() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, true);
        mosquitto_destroy(mosq_);
        mosquitto_lib_cleanup();
    }
    bool Ok() const { return ok_; }

    Wall::time_point Publish(const std::string& topic, const std::string& payload) {
        const Wall::time_point at = Wall::now();
        mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 0, false);
        return at;
    }
    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }
    // Arrival of the first "topic payload" from message number `from` on.
    bool WaitFor(const std::string& line, std::size_t from, int timeoutMs, Wall::time_point& at) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, milliseconds(timeoutMs), [&] {
            for (std::size_t i = from; i < messages_.size(); ++i) {
                if (messages_[i].line != line) continue;
                at = messages_[i].at;
                return true;
            }
            return false;
        });
    }

  private:
    struct Message {
        std::string line;
        Wall::time_point at;
    };
    void Received(const mosquitto_message* m) {
        const Wall::time_point at = Wall::now();
        std::string line = std::string(m->topic) + " " +
                           std::string(static_cast<const char*>(m->payload),
                                       static_cast<std::size_t>(m->payloadlen));
        {
            std::lock_guard lock(mutex_);
            messages_.push_back({std::move(line), at});
        }
        cv_.notify_all();
    }

    mosquitto* mosq_ = nullptr;
    bool ok_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Message> messages_;
};

// The first byte of `frame` logged by the board from command number `from` on.
bool WaitArrival(const test::SimulatorProcess& sim, const std::string& frame, std::size_t from,
                 int timeoutMs, Wall::time_point& at) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<test::SimulatorCommand> commands = sim.Commands();
        for (std::size_t i = from; i < commands.size(); ++i) {
            if (commands[i].text != frame) continue;
            at = commands[i].firstByte;
            return true;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return false;
}

bool LogHas(const std::string& file, const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(file);
        const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (all.find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
}

struct Phase {
    const char* name;
    Wall::time_point start, end;
};

}  // namespace

int main() {
    const std::string buildDir = ExecutableFolder();
    for (const char* needed : {"ristova-run", "ristova-sim", "PowerDll/SimRelay.so"}) {
        if (!FileExists(buildDir + needed)) {
            std::fprintf(stderr, "needs %s beside this program\n", needed);
            return 1;
        }
    }
    test::Broker broker;
    if (!broker.Start()) {
        std::fprintf(stderr, "mosquitto did not start: %s\n", broker.Error().c_str());
        return 1;
    }
    test::SimulatorProcess sim;
    if (!sim.Start({"--relays", std::to_string(kRelays)})) {
        std::fprintf(stderr, "%s\n", sim.Error().c_str());
        return 1;
    }
    // Opened before the runner, which locks its own descriptor only.
    const int board = open(sim.SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (board < 0) return 1;

    char folderTemplate[] = "/tmp/ristova-bench-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) return 1;
    const std::string folder = std::string(folderTemplate) + "/";
    mkdir((folder + "PowerDll").c_str(), 0755);
    [[maybe_unused]] int linked =
        symlink((buildDir + "PowerDll/SimRelay.so").c_str(), (folder + "PowerDll/SimRelay.so").c_str());
    const std::string controller = folder + kControllerFile;
    bench::WriteSimController(controller, sim.SlavePath(), kRelays);
    const std::string settingsFile = folder + kSettingsFileBaseName;
    WriteIniText(settingsFile, "RUN", "sPowerFn", kControllerFile);
    settings::WriteSwitch(settingsFile, settings::kChkManOperate, true);
    WriteIniText(settingsFile, "MQTT", "Host", "127.0.0.1");
    WriteIniText(settingsFile, "MQTT", "Port", std::to_string(broker.Port()));
    WriteIniText(settingsFile, "MQTT", "TopicPrefix", kPrefix);
    // The sets below come faster than the default limit lets through.
    WriteIniText(settingsFile, "MQTT", "AllowSet", "YES");
    WriteIniText(settingsFile, "MQTT", "MaxSetPerSecond", "100");

    // One timed command in each second from 3 s from now on, relays 5 to 8.
    const std::time_t first = std::time(nullptr) + 3;
    std::map<int, std::string> planned;  // local second of day -> frame
    std::string planText;
    for (int k = 0; k < kPlanSeconds; ++k) {
        const int second = LocalDaySecond(first + k);
        const int relay = 5 + k % 4;
        const bool on = (k / 4) % 2 == 0;
        planned[second] = Command(relay, on);
        planText += std::to_string(k + 1) + "^^" + std::to_string(relay) + "^^" +
                    SecondsToTimeText(second) + "^^" + (on ? "接通" : "断开") + "^^^^^^\r\n";
    }
    mkdir((folder + "模拟").c_str(), 0755);
    WriteFileAtomically(folder + "模拟/计划表.tab", codec::ToCodePage(planText));

    const std::string runLog = folder + "run.log";
    test::ChildProcess runner;
    if (!runner.Start({"/bin/sh", "-c", "exec \"$0\" --folder \"$1\" >\"$2\" 2>&1",
                       buildDir + "ristova-run", folder, runLog})) {
        std::fprintf(stderr, "ristova-run: %s\n", runner.Error().c_str());
        return 1;
    }
    const std::string ctl = std::string(kPrefix) + "/" + remote::ControllerTopic(kControllerFile);
    auto stateLine = [&](int relay, bool on) {
        return ctl + "/relay/" + std::to_string(relay) + "/state " + (on ? "ON" : "OFF");
    };
    Client client(broker.Port());
    Wall::time_point at;
    if (!client.Ok() || !LogHas(runLog, "远程: 已连接", 5000) ||
        !client.WaitFor(stateLine(4, false), 0, 5000, at)) {
        std::fprintf(stderr, "ristova-run did not connect and publish; its output:\n");
        [[maybe_unused]] int rc = std::system(("cat '" + runLog + "' >&2").c_str());
        return 1;
    }
    std::vector<Phase> phases;
    phases.push_back({"up, idle", Wall::now(), {}});
    std::this_thread::sleep_until(Wall::from_time_t(first + 4));
    phases.back().end = Wall::now();
    phases.push_back({"up, with (a) and (b)", Wall::now(), {}});

    // (a) Each relay on and off in turn. The next set waits until the line is
    // free again: the switch and the state query after it each hold the
    // line for the writer's pause.
    std::vector<double> setLatency;
    bool states[5] = {};
    for (int i = 0; i < kSets; ++i) {
        const int relay = i % 4 + 1;
        const bool on = !states[relay];
        const std::size_t from = sim.Commands().size();
        const Wall::time_point sent =
            client.Publish(ctl + "/relay/" + std::to_string(relay) + "/set", on ? "ON" : "OFF");
        if (WaitArrival(sim, Command(relay, on), from, 2000, at)) {
            setLatency.push_back(Ms(at - sent));
            states[relay] = on;
        }
        std::this_thread::sleep_for(milliseconds(2 * comm::kPauseAfterWriteMs + 20));
    }

    // (b) The board switched behind the runner's back, at random points of
    // the one-second poll.
    std::vector<double> stateLatency;
    std::mt19937 random(14);
    std::uniform_int_distribution<int> pause(0, 999);
    for (int i = 0; i < kBoardChanges; ++i) {
        const int relay = i % 4 + 1;
        const bool on = !states[relay];
        std::this_thread::sleep_for(milliseconds(pause(random)));
        const std::size_t fromCommand = sim.Commands().size();
        const std::size_t fromMessage = client.Count();
        const std::string frame = Command(relay, on);
        if (write(board, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
        Wall::time_point changed, published;
        if (WaitArrival(sim, frame, fromCommand, 2000, changed) &&
            client.WaitFor(stateLine(relay, on), fromMessage, 3000, published)) {
            stateLatency.push_back(Ms(published - changed));
        }
        states[relay] = on;
    }
    phases.back().end = Wall::now();

    // (c) The broker stalled, then gone.
    broker.Pause();
    phases.push_back({"stalled (SIGSTOP)", Wall::now(), {}});
    std::this_thread::sleep_for(std::chrono::seconds(kStallSeconds));
    phases.back().end = Wall::now();
    broker.Resume();
    broker.Stop();
    phases.push_back({"stopped", Wall::now(), {}});
    std::this_thread::sleep_for(std::chrono::seconds(kDownSeconds));
    phases.back().end = Wall::now();
    runner.Stop();
    close(board);

    // A timed command belongs to the second it arrived in; a second of a
    // phase (wholly inside it) without its command is missed.
    std::map<std::time_t, std::vector<Wall::time_point>> arrivals;
    for (const test::SimulatorCommand& c : sim.Commands()) {
        if (CommandRelay(c.text) < 5) continue;
        const std::time_t start =
            Wall::to_time_t(std::chrono::floor<std::chrono::seconds>(c.firstByte));
        auto it = planned.find(LocalDaySecond(start));
        if (it != planned.end() && it->second == c.text) arrivals[start].push_back(c.firstByte);
    }

    std::printf("broker mosquitto on 127.0.0.1:%d, ristova-run, ristova-sim with %d relays\n",
                broker.Port(), kRelays);
    std::printf("(a) set published -> first byte at the board, %d sets: %s\n", kSets,
                Summary(setLatency).c_str());
    std::printf("(b) state change at the board -> state message, %d changes: %s\n",
                kBoardChanges, Summary(stateLatency).c_str());
    std::printf("(c) timed commands, start of the second -> first byte at the board:\n");
    bool allOnTime = true;
    for (const Phase& p : phases) {
        std::vector<double> latency;
        int seconds = 0, missed = 0, doubled = 0;
        for (std::time_t s = Wall::to_time_t(p.start); s <= Wall::to_time_t(p.end); ++s) {
            if (Wall::from_time_t(s) < p.start || Wall::from_time_t(s + 1) > p.end) continue;
            if (s < first || s >= first + kPlanSeconds) continue;
            ++seconds;
            auto it = arrivals.find(s);
            if (it == arrivals.end()) {
                ++missed;
                continue;
            }
            doubled += it->second.size() > 1;
            latency.push_back(Ms(it->second.front() - Wall::from_time_t(s)));
        }
        allOnTime = allOnTime && missed == 0 && doubled == 0;
        std::printf("  broker %-22s %2d s: %s; missed %d, sent twice %d\n", p.name, seconds,
                    Summary(latency).c_str(), missed, doubled);
    }
    [[maybe_unused]] int rc = std::system(("rm -rf '" + folder + "'").c_str());
    return allOnTime && static_cast<int>(setLatency.size()) == kSets ? 0 : 2;
}
