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

#include "Latency.h"
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

using bench::Command;
using bench::Hex;
using bench::Ms;
using bench::Summary;
using bench::WaitArrival;

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

}  // namespace

int main() {
    test::Broker broker;
    if (!broker.Start()) {
        std::fprintf(stderr, "mosquitto did not start: %s\n", broker.Error().c_str());
        return 1;
    }
    bench::RunnerSite site;
    if (!site.Prepare(kRelays)) return 1;
    test::SimulatorProcess& sim = site.sim;
    WriteIniText(site.settingsFile, "MQTT", "Host", "127.0.0.1");
    WriteIniText(site.settingsFile, "MQTT", "Port", std::to_string(broker.Port()));
    WriteIniText(site.settingsFile, "MQTT", "TopicPrefix", kPrefix);
    // The sets below come faster than the default limit lets through.
    WriteIniText(site.settingsFile, "MQTT", "AllowSet", "YES");
    WriteIniText(site.settingsFile, "MQTT", "MaxSetPerSecond", "100");

    // One timed command in each second from 3 s from now on, relays 5 to 8.
    const std::time_t first = std::time(nullptr) + 3;
    const bench::TimedPlan plan(site.folder + site.kPlanFolder, first, kPlanSeconds);
    if (!site.StartRunner()) return 1;
    const std::string ctl =
        std::string(kPrefix) + "/" + remote::ControllerTopic(site.kControllerFile);
    auto stateLine = [&](int relay, bool on) {
        return ctl + "/relay/" + std::to_string(relay) + "/state " + (on ? "ON" : "OFF");
    };
    Client client(broker.Port());
    Wall::time_point at;
    if (!client.Ok() || !LogHas(site.runLog, "远程: 已连接", 5000) ||
        !client.WaitFor(stateLine(4, false), 0, 5000, at)) {
        site.PrintRunLog("ristova-run did not connect and publish");
        return 1;
    }
    std::vector<bench::TimedPlan::Phase> phases;
    phases.push_back({"broker up, idle", Wall::now(), {}});
    std::this_thread::sleep_until(Wall::from_time_t(first + 4));
    phases.back().end = Wall::now();
    phases.push_back({"broker up, with (a) and (b)", Wall::now(), {}});

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
        if (!site.WriteToBoard(frame)) break;
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
    phases.push_back({"broker stalled (SIGSTOP)", Wall::now(), {}});
    std::this_thread::sleep_for(std::chrono::seconds(kStallSeconds));
    phases.back().end = Wall::now();
    broker.Resume();
    broker.Stop();
    phases.push_back({"broker stopped", Wall::now(), {}});
    std::this_thread::sleep_for(std::chrono::seconds(kDownSeconds));
    phases.back().end = Wall::now();
    site.runner.Stop();

    std::printf("broker mosquitto on 127.0.0.1:%d, ristova-run, ristova-sim with %d relays\n",
                broker.Port(), kRelays);
    std::printf("(a) set published -> first byte at the board, %d sets: %s\n", kSets,
                Summary(setLatency).c_str());
    std::printf("(b) state change at the board -> state message, %d changes: %s\n",
                kBoardChanges, Summary(stateLatency).c_str());
    std::printf("(c) timed commands, start of the second -> first byte at the board:\n");
    const bool allOnTime = plan.Print(sim, phases);
    return allOnTime && static_cast<int>(setLatency.size()) == kSets ? 0 : 2;
}
