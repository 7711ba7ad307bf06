#pragma once
// The site's controllers on an MQTT broker: each one's relay states, line
// and events and its Home Assistant device published; "set" messages switch
// relays as a manual switch would. The client runs on a thread of its own; its messages
// reach the engine through the main-thread poster, and publishing only
// queues, so a broker that is slow, stalled or gone never holds up the
// engine.
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "base/AppContext.h"
#include "remote/MqttSettings.h"
#include "run/RunEvents.h"
#include "run/Site.h"

struct mosquitto;
struct mosquitto_message;

namespace ristova::remote {

inline constexpr const char* kRemoteConnected = "远程: 已连接 ";
inline constexpr const char* kRemoteLost = "远程: 连接中断,正在重新连接";
inline constexpr const char* kRemoteRefused = "远程: 登录被拒绝,请检查User和PasswordFile";

class MqttBridge : public run::IRunEventSink, public run::SiteService {
  public:
    MqttBridge(AppContext& ctx, run::Site& site);
    ~MqttBridge() override;  // "offline", then the client stops
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Starts the client when the settings name a host; false with Error()
    // when they do but it cannot start (no password file, for one). The
    // site's events reach the bridge only once it has started.
    bool Start(const MqttSettings& settings);
    bool Started() const { return mosq_ != nullptr; }
    const std::string& Error() const { return error_; }
    // Connected as far as the main thread has been told.
    bool Connected() const { return connected_; }

    void OnRunEvent(const run::RunEvent& event) override;

  private:
    struct Shared;
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

    // Main thread.
    void HandleConnect(int rc);
    void HandleDisconnect();
    void Received(const std::string& topic, const std::string& payload);
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    struct Controller {
        std::string line = "stopped";
        int announced = 0;  // relays in the discovery configs published
    };
    void PublishAll();
    void PublishState(const std::string& controller, int relay);
    void PublishLine(const std::string& controller);
    void PublishDiscovery();
    std::string ControllerPrefix(const std::string& controller) const;
    // The run of a topic level, or null.
    run::ControllerRun* RunOfTopic(const std::string& level) const;
    Controller& Of(const std::string& controller);
    std::string DiscoveryTopic(const std::string& objectId) const;
    void Report(const std::string& text);

    AppContext& ctx_;
    run::Site& site_;
    MqttSettings settings_;
    mosquitto* mosq_ = nullptr;
    std::shared_ptr<Shared> shared_;
    std::string error_;
    std::string node_;
    std::map<std::string, Controller> controllers_;  // by file name
    std::set<std::string> configs_;  // discovery ids published this session
    bool connected_ = false;
    bool refusedReported_ = false;
    bool lostReported_ = false;
};

}  // namespace ristova::remote
