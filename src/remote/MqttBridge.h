#pragma once
// The site's controllers on an MQTT broker: each one's relay states, line
// and events and its Home Assistant device published; with [MQTT] AllowSet,
// "set" messages switch relays as a manual switch would, at most
// MaxSetPerSecond per controller. The client runs on a thread of its own that
// connects, reconnects with a back-off and reads; its messages reach the
// engine through the main-thread poster, and publishing only queues, so a
// broker that is slow, stalled or gone never holds up the engine.
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "base/AppContext.h"
#include "remote/MqttSettings.h"
#include "run/RunEvents.h"
#include "run/Site.h"

struct mosquitto;
struct mosquitto_message;

namespace ristova::remote {

// Panel 3 and standard error.
inline constexpr const char* kRemoteConnected = "远程: 已连接 ";  // + host:port
inline constexpr const char* kRemoteLost = "远程: 连接中断,正在重新连接";
inline constexpr const char* kRemoteRefused = "远程: 登录被拒绝,请检查User和PasswordFile";
inline constexpr const char* kRemoteUnreachable = "远程: 无法连接 ";  // + host:port (reason)
inline constexpr const char* kRemoteRetrying = ",正在重试";

// A command longer than this is dropped unread.
inline constexpr int kMaxCommandBytes = 64;
// Unconnected this long since the start or a loss is reported.
inline constexpr int kUnreachableReportMs = 30000;
// The detail of a retained command that was not carried out.
inline constexpr const char* kRetainedIgnored = "retained message ignored";

class MqttBridge : public run::IRunEventSink, public run::SiteService {
  public:
    MqttBridge(AppContext& ctx, run::Site& site);
    ~MqttBridge() override;  // "offline", then the client stops
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Starts the client when the settings name a host; false with Error()
    // (also in the journal) when they do but it must not or cannot start:
    // settings that are unusable, a password file others may read. The
    // site's events reach the bridge only once it has started.
    bool Start(const MqttSettings& settings);
    bool Started() const { return shared_ != nullptr; }
    const std::string& Error() const { return error_; }
    // Connected as far as the main thread has been told.
    bool Connected() const { return connected_; }
    // This program folder's status topic: "online", and "offline" as the
    // last will.
    const std::string& StatusTopic() const { return statusTopic_; }

    void OnRunEvent(const run::RunEvent& event) override;

  private:
    struct Shared;
    using Clock = std::chrono::steady_clock;
    static void ClientLoop(std::shared_ptr<Shared> shared);
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnLog(mosquitto*, void* self, int level, const char* text);

    // Main thread.
    bool Refuse(const std::string& why, const char* result);
    void HandleConnect(int rc);
    void HandleDisconnect();
    void HandleAttemptFailed(const std::string& reason);
    void Tick();
    void Received(const std::string& topic, const std::string& payload, bool retained);
    void ReceivedConfig(const std::string& topic, bool nonEmpty);
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    void Subscribe(const std::string& filter);
    struct Controller {
        std::string line = "stopped";
        int announced = 0;  // relays in the discovery configs published
        // The requests let through within the last second, oldest first.
        std::deque<Clock::time_point> admitted;
        int limited = 0;  // refused by the limit since limitedSince
        Clock::time_point limitedSince;
    };
    void PublishAll();
    void PublishState(const std::string& controller, int relay);
    void PublishLine(const std::string& controller);
    void PublishDiscovery();
    std::string ControllerPrefix(const std::string& controller) const;
    // The run of a topic level, or null.
    run::ControllerRun* RunOfTopic(const std::string& level) const;
    Controller& Of(const std::string& controller);
    const char* Component() const;
    std::string DiscoveryTopic(const char* component, const std::string& objectId) const;
    // A config id of one of the site's relays, as this bridge makes them.
    bool OwnConfig(const std::string& objectId) const;
    bool Admit(Controller& c, Clock::time_point now) const;
    void TellLimited(const std::string& controller, Controller& c, Clock::time_point now);
    // An event of the bridge: the journal, the runner's output, the broker.
    void Tell(const std::string& controller, int relay, const char* kind, const char* source,
              const char* result, const std::string& detail);
    // Panel 3, standard error and the journal.
    void Report(const std::string& text, const char* result);
    void ReportFailure(const std::string& call, int rc);
    std::string Address() const;

    AppContext& ctx_;
    run::Site& site_;
    MqttSettings settings_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    std::string error_;
    std::string node_;
    std::string statusTopic_;
    std::string eventsTopic_;                        // of the site's own events
    std::map<std::string, Controller> controllers_;  // by file name
    std::set<std::string> configs_;  // discovery ids published this session
    bool connected_ = false;
    bool everConnected_ = false;
    bool loginRefused_ = false;
    // Since the start or the last loss, until a connect.
    Clock::time_point unconnectedSince_;
    bool unreachableTold_ = false;
    std::string lastReason_;
    std::set<std::string> failuresTold_;  // until the next connect
    std::uint64_t dropsToTell_ = 0;
    Clock::time_point dropsToldAt_;
};

}  // namespace ristova::remote
