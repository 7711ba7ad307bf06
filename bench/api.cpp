// How quickly the local API of ristova-run acts and tells, and what a crowd
// of clients costs the timed commands. The built ristova-run on a folder of
// its own and the simulated board, whose log has the arrival of each
// command's first byte (CLOCK_REALTIME, as our own time stamps).
//
//  (a) a switch asked for over the socket, a connection per request as
//      ristova-ctl does it, to the first byte at the board;
//  (b) a state change at the board (a switch command written to its
//      terminal beside the runner) to its event on the event stream;
//  (c) the timed commands, from the start of their second to the first
//      byte: the API idle, busy with (a) and (b), and with 50 event streams
//      open while 100 status requests a second arrive.
//
// Relays 1 to 4 serve (a) and (b), relays 5 to 8 the plan.
// Usage: bench_api
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Latency.h"
#include "SimController.h"
#include "api/ApiClient.h"
#include "api/ApiModel.h"
#include "base/Files.h"
#include "comm/CommWorkers.h"
#include "support/Simulator.h"

using namespace ristova;
using bench::Command;
using bench::Ms;
using bench::Summary;
using bench::WaitArrival;
using bench::Wall;
using std::chrono::milliseconds;

namespace {

constexpr int kRelays = 8;
constexpr int kSwitches = 100;
constexpr int kBoardChanges = 10;
constexpr int kStreams = 50;
constexpr int kRequestsPerSecond = 100;
constexpr int kCrowdSeconds = 15;
constexpr int kPlanSeconds = 70;

// The state events of one stream, with their arrival.
class StateEvents {
  public:
    void Add(const std::string& json) {
        run::RunEvent e;
        std::string error;
        if (!api::FromJson(json, e, error) || e.kind != "state") return;
        const Wall::time_point at = Wall::now();
        std::lock_guard lock(mutex_);
        events_.push_back({e.relay, e.result == "1", at});
        cv_.notify_all();
    }
    bool WaitFor(int relay, bool on, Wall::time_point after, int timeoutMs, Wall::time_point& at) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, milliseconds(timeoutMs), [&] {
            for (const Event& e : events_) {
                if (e.relay != relay || e.on != on || e.at < after) continue;
                at = e.at;
                return true;
            }
            return false;
        });
    }

  private:
    struct Event {
        int relay;
        bool on;
        Wall::time_point at;
    };
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

// An event stream on a thread of its own, counting what it gets.
class Stream {
  public:
    Stream(const api::Endpoint& endpoint, StateEvents* states) : client_(endpoint) {
        thread_ = std::thread([this, states] {
            client_.Events(
                [this, states](const std::string& json) {
                    ++events_;
                    if (states) states->Add(json);
                    return true;
                },
                [this] { open_ = true; });
        });
    }
    ~Stream() {
        client_.Cancel();
        thread_.join();
    }
    bool Open() const { return open_; }
    long Events() const { return events_; }

  private:
    api::ApiClient client_;
    std::atomic<bool> open_{false};
    std::atomic<long> events_{0};
    std::thread thread_;
};

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

}  // namespace

int main() {
    bench::RunnerSite site;
    if (!site.Prepare(kRelays)) return 1;
    test::SimulatorProcess& sim = site.sim;
    const std::time_t first = std::time(nullptr) + 3;
    const bench::TimedPlan plan(site.folder + site.kPlanFolder, first, kPlanSeconds);
    if (!site.StartRunner()) return 1;
    const api::Endpoint socket{api::SocketPathOf(site.folder), {}, {}};
    api::ApiClient client(socket);
    auto stateOf = [&](int relay) {
        api::SiteStatus status;
        std::string error;
        const api::ApiResult r = client.Status();
        if (!r.Ok() || !api::FromJson(r.body, status, error) || status.controllers.empty())
            return std::string();
        return status.controllers[0].relays[static_cast<std::size_t>(relay - 1)].state;
    };
    if (!WaitUntil([&] { return stateOf(1) == "off"; }, 10000)) {
        site.PrintRunLog("ristova-run did not serve its API");
        return 1;
    }
    std::vector<bench::TimedPlan::Phase> phases;
    phases.push_back({"API idle", Wall::now(), {}});
    std::this_thread::sleep_until(Wall::from_time_t(first + 6));
    phases.back().end = Wall::now();
    phases.push_back({"API with (a) and (b)", Wall::now(), {}});

    // (a) Each relay on and off in turn. The next switch waits until the
    // line is free again: the switch and the state query after it each
    // hold the line for the writer's pause.
    std::vector<double> switchLatency;
    int refused = 0;
    bool states[5] = {};
    Wall::time_point at;
    for (int i = 0; i < kSwitches; ++i) {
        const int relay = i % 4 + 1;
        const bool on = !states[relay];
        const std::size_t from = sim.Commands().size();
        const Wall::time_point asked = Wall::now();
        const api::ApiResult r = client.Switch(site.kControllerFile, relay, on);
        if (!r.Ok()) ++refused;
        if (WaitArrival(sim, Command(relay, on), from, 2000, at)) {
            switchLatency.push_back(Ms(at - asked));
            states[relay] = on;
        }
        std::this_thread::sleep_for(milliseconds(2 * comm::kPauseAfterWriteMs + 20));
    }

    // (b) The board switched behind the runner's back, at random points of
    // the one-second poll.
    StateEvents stateEvents;
    std::vector<double> eventLatency;
    {
        Stream stream(socket, &stateEvents);
        WaitUntil([&] { return stream.Open(); }, 5000);
        std::mt19937 random(22);
        std::uniform_int_distribution<int> pause(0, 999);
        for (int i = 0; i < kBoardChanges; ++i) {
            const int relay = i % 4 + 1;
            const bool on = !states[relay];
            std::this_thread::sleep_for(milliseconds(pause(random)));
            const std::size_t from = sim.Commands().size();
            const std::string frame = Command(relay, on);
            if (!site.WriteToBoard(frame)) break;
            Wall::time_point changed, told;
            if (WaitArrival(sim, frame, from, 2000, changed) &&
                stateEvents.WaitFor(relay, on, changed, 3000, told))
                eventLatency.push_back(Ms(told - changed));
            states[relay] = on;
        }
    }
    phases.back().end = Wall::now();

    // (c) A crowd: 50 streams, and status requests at 100 a second.
    std::vector<std::unique_ptr<Stream>> streams;
    for (int i = 0; i < kStreams; ++i) streams.push_back(std::make_unique<Stream>(socket, nullptr));
    const bool allOpen = WaitUntil(
        [&] {
            return std::all_of(streams.begin(), streams.end(),
                               [](const auto& s) { return s->Open(); });
        },
        10000);
    phases.push_back({"API with 50 streams, 100 requests/s", Wall::now(), {}});
    int requests = 0, failures = 0;
    std::vector<double> requestLatency;
    {
        api::ApiClient requester(socket);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kCrowdSeconds);
        auto next = std::chrono::steady_clock::now();
        while (next < end) {
            const auto started = std::chrono::steady_clock::now();
            if (!requester.Status().Ok()) ++failures;
            ++requests;
            requestLatency.push_back(std::chrono::duration<double, std::milli>(
                                         std::chrono::steady_clock::now() - started)
                                         .count());
            next += milliseconds(1000 / kRequestsPerSecond);
            std::this_thread::sleep_until(next);
        }
    }
    phases.back().end = Wall::now();
    long streamEvents = 0;
    for (const auto& s : streams) streamEvents += s->Events();
    streams.clear();
    site.runner.Stop();

    std::printf("ristova-run, its socket, ristova-sim with %d relays\n", kRelays);
    std::printf("(a) switch asked for -> first byte at the board, %d switches: %s; refused %d\n",
                kSwitches, Summary(switchLatency).c_str(), refused);
    std::printf("(b) state change at the board -> its event on the stream, %d changes: %s\n",
                kBoardChanges, Summary(eventLatency).c_str());
    std::printf("(c) timed commands, start of the second -> first byte at the board:\n");
    const bool allOnTime = plan.Print(sim, phases);
    std::printf(
        "    during (c): %d status requests, %d failed, %s; %d streams %s, %ld events on them\n",
        requests, failures, Summary(requestLatency).c_str(), kStreams,
        allOpen ? "open" : "NOT ALL OPEN", streamEvents);
    return allOnTime && static_cast<int>(switchLatency.size()) == kSwitches && failures == 0 ? 0
                                                                                             : 2;
}
