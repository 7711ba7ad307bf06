#include "remote/MqttBridge.h"

#include <mosquitto.h>
#include <thread>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/Files.h"
#include "base/Process.h"
#include "base/TextUtils.h"

namespace ristova::remote {

namespace {

constexpr int kKeepAliveSeconds = 10;
constexpr int kMinReconnectSeconds = 1;
constexpr int kMaxReconnectSeconds = 60;
// CONNACK codes of a refused login (MQTT 3.1.1 and 5).
bool LoginRefused(int rc) {
    return rc == 4 || rc == 5 || rc == 134 || rc == 135;
}

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

// What the client thread's callbacks need: the poster, and whether the
// bridge still exists when a posted call runs (checked on the main thread).
// Posted calls hold it, so it outlives the bridge.
struct MqttBridge::Shared : std::enable_shared_from_this<Shared> {
    Shared(IMainThreadPoster& p, MqttBridge* b) : poster(p), bridge(b) {}
    IMainThreadPoster& poster;
    MqttBridge* bridge;  // null once the bridge is going
    std::mutex mutex;
    bool disconnected = false;
};

MqttBridge::MqttBridge(AppContext& ctx, run::Site& site) : ctx_(ctx), site_(site) {}

MqttBridge::~MqttBridge() {
    if (!mosq_) return;
    site_.Events().Remove(this);
    shared_->bridge = nullptr;
    if (connected_) {
        // A clean end says so itself: the broker sends the will only on a loss.
        Publish(settings_.topicPrefix + "/status", "offline", true);
    }
    mosquitto_disconnect(mosq_);
    // A stalled broker may never take the goodbye: the thread is cut short.
    for (int i = 0; i < 50; ++i) {
        {
            std::lock_guard lock(shared_->mutex);
            if (shared_->disconnected) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
}

bool MqttBridge::Start(const MqttSettings& settings) {
    error_.clear();
    if (settings.host.empty() || mosq_) return true;
    settings_ = settings;
    std::string password;
    if (!settings.passwordFile.empty()) {
        if (!ReadFileBytes(settings.passwordFile, password)) {
            error_ = "MQTT: cannot read the password file " + settings.passwordFile;
            return false;
        }
        // The first line, without its line end.
        password = password.substr(0, password.find_first_of("\r\n"));
    }
    InitLibrary();
    node_ = DiscoveryId(settings.topicPrefix);
    shared_ = std::make_shared<Shared>(ctx_.poster, this);
    const std::string id = "ristova-" + node_ + "-" + std::to_string(ProcessId());
    mosq_ = mosquitto_new(id.c_str(), true, shared_.get());
    if (!mosq_) {
        error_ = "MQTT: no client: " + std::string(std::strerror(errno));
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (!settings.user.empty())
        mosquitto_username_pw_set(mosq_, settings.user.c_str(),
                                  settings.passwordFile.empty() ? nullptr : password.c_str());
    if (!settings.tlsCaFile.empty()) {
        const int rc =
            mosquitto_tls_set(mosq_, settings.tlsCaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error_ = "MQTT: TLS: " + std::string(mosquitto_strerror(rc));
            mosquitto_destroy(mosq_);
            mosq_ = nullptr;
            return false;
        }
    }
    const std::string will = settings.topicPrefix + "/status";
    mosquitto_will_set(mosq_, will.c_str(), 7, "offline", 1, true);
    mosquitto_reconnect_delay_set(mosq_, kMinReconnectSeconds, kMaxReconnectSeconds, true);
    mosquitto_connect_callback_set(mosq_, &MqttBridge::OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttBridge::OnDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttBridge::OnMessage);
    for (const auto& run : site_.Runs()) {
        Controller& c = Of(run->File());
        c.line = run::LineCode(*run);
    }
    site_.Events().Add(this);
    // A refused or failed first try is retried by the client thread.
    mosquitto_connect_async(mosq_, settings.host.c_str(), settings.port, kKeepAliveSeconds);
    const int rc = mosquitto_loop_start(mosq_);
    if (rc != MOSQ_ERR_SUCCESS) {
        error_ = "MQTT: " + std::string(mosquitto_strerror(rc));
        site_.Events().Remove(this);
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
        return false;
    }
    return true;
}

// --- client thread -----------------------------------------------------

void MqttBridge::OnConnect(mosquitto* mosq, void* self, int rc) {
    auto shared = static_cast<Shared*>(self)->shared_from_this();
    if (LoginRefused(rc)) {
        // Not again and again with the same words: the settings must change.
        mosquitto_disconnect(mosq);
    }
    shared->poster.Post([shared, rc] {
        if (shared->bridge) shared->bridge->HandleConnect(rc);
    });
}

void MqttBridge::OnDisconnect(mosquitto*, void* self, int) {
    auto shared = static_cast<Shared*>(self)->shared_from_this();
    {
        std::lock_guard lock(shared->mutex);
        shared->disconnected = true;
    }
    shared->poster.Post([shared] {
        if (shared->bridge) shared->bridge->HandleDisconnect();
    });
}

void MqttBridge::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto shared = static_cast<Shared*>(self)->shared_from_this();
    std::string topic = message->topic ? message->topic : "";
    std::string payload(static_cast<const char*>(message->payload),
                        message->payload ? static_cast<std::size_t>(message->payloadlen) : 0);
    shared->poster.Post([shared, topic = std::move(topic), payload = std::move(payload)] {
        if (shared->bridge) shared->bridge->Received(topic, payload);
    });
}

// --- main thread -------------------------------------------------------

void MqttBridge::Report(const std::string& text) {
    ctx_.status.ShowStatus(3, text);
    std::fprintf(stderr, "ristova: %s\n", text.c_str());
}

void MqttBridge::HandleConnect(int rc) {
    if (rc != 0) {
        if (LoginRefused(rc) && !refusedReported_) {
            refusedReported_ = true;
            Report(kRemoteRefused);
        }
        return;
    }
    {
        std::lock_guard lock(shared_->mutex);
        shared_->disconnected = false;
    }
    connected_ = true;
    lostReported_ = false;
    refusedReported_ = false;
    Report(kRemoteConnected + settings_.host + ":" + std::to_string(settings_.port));
    const std::string set = settings_.topicPrefix + "/+/relay/+/set";
    mosquitto_subscribe(mosq_, nullptr, set.c_str(), 1);
    if (settings_.discovery) {
        // Retained configs of this node come back: those of relays that are
        // gone are removed.
        const std::string configs = settings_.discoveryPrefix + "/switch/" + node_ + "/+/config";
        mosquitto_subscribe(mosq_, nullptr, configs.c_str(), 1);
    }
    PublishAll();
}

void MqttBridge::HandleDisconnect() {
    if (!connected_) return;
    connected_ = false;
    if (!lostReported_) {
        lostReported_ = true;
        Report(kRemoteLost);
    }
}

void MqttBridge::Publish(const std::string& topic, const std::string& payload, bool retain) {
    if (!mosq_) return;
    // Only queued here; the client thread writes. Without a connection it
    // is dropped: a reconnect publishes everything again.
    mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), retain ? 1 : 0, retain);
}

MqttBridge::Controller& MqttBridge::Of(const std::string& controller) {
    return controllers_[controller];
}

std::string MqttBridge::ControllerPrefix(const std::string& controller) const {
    return settings_.topicPrefix + "/" + ControllerTopic(controller);
}

std::string MqttBridge::DiscoveryTopic(const std::string& objectId) const {
    return settings_.discoveryPrefix + "/switch/" + node_ + "/" + objectId + "/config";
}

run::ControllerRun* MqttBridge::RunOfTopic(const std::string& level) const {
    for (const auto& run : site_.Runs())
        if (ControllerTopic(run->File()) == level) return run.get();
    return nullptr;
}

void MqttBridge::PublishAll() {
    Publish(settings_.topicPrefix + "/status", "online", true);
    if (settings_.discovery) PublishDiscovery();
    for (const auto& run : site_.Runs()) {
        PublishLine(run->File());
        for (int r = 1; r <= run->RelayCount(); ++r) PublishState(run->File(), r);
    }
}

void MqttBridge::PublishState(const std::string& controller, int relay) {
    if (!connected_) return;
    // The states live in the run; one not reported or not confirmed is not
    // guessed.
    const run::ControllerRun* run = site_.Find(controller);
    if (!run || !run->StatesReported() || run->StatesUnknown() || relay > run->RelayCount())
        return;
    const char state = run->States()[static_cast<std::size_t>(relay - 1)];
    Publish(ControllerPrefix(controller) + "/relay/" + std::to_string(relay) + "/state",
            state == '1' ? "ON" : "OFF", true);
}

void MqttBridge::PublishLine(const std::string& controller) {
    if (!connected_) return;
    Publish(ControllerPrefix(controller) + "/line", Of(controller).line, true);
}

void MqttBridge::PublishDiscovery() {
    if (!connected_) return;
    std::set<std::string> current;
    for (const auto& run : site_.Runs()) {
        const std::string ctl = ControllerTopic(run->File());
        const std::string ctlId = DiscoveryId(ctl);
        const std::string prefix = ControllerPrefix(run->File());
        const std::string device = "{\"identifiers\":[" + JsonString(node_ + "_" + ctlId) +
                                   "],\"name\":" + JsonString(ctl) +
                                   ",\"manufacturer\":\"Ristova\",\"model\":" +
                                   JsonString(run->DecoderDescription()) + "}";
        for (const controller::RelayDefinition& relay : run->Definition().relays) {
            const int k = relay.number;
            const std::string objectId = ctlId + "_" + std::to_string(k);
            const std::string topic = prefix + "/relay/" + std::to_string(k);
            const std::string config =
                "{\"unique_id\":" + JsonString("ristova_" + node_ + "_" + objectId) +
                ",\"name\":" + JsonString(relay.Name()) +
                ",\"command_topic\":" + JsonString(topic + "/set") +
                ",\"state_topic\":" + JsonString(topic + "/state") +
                ",\"availability_topic\":" + JsonString(settings_.topicPrefix + "/status") +
                ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"" +
                ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\",\"state_on\":\"ON\",\"state_off\":"
                "\"OFF\",\"device\":" +
                device + "}";
            Publish(DiscoveryTopic(objectId), config, true);
            current.insert(objectId);
        }
        Of(run->File()).announced = run->RelayCount();
    }
    for (const std::string& old : configs_)
        if (!current.count(old)) Publish(DiscoveryTopic(old), "", true);
    configs_ = std::move(current);
}

void MqttBridge::Received(const std::string& topic, const std::string& payload) {
    const std::string configs = settings_.discoveryPrefix + "/switch/" + node_ + "/";
    if (topic.rfind(configs, 0) == 0) {
        // A retained config left from an earlier run of one of the site's
        // controllers: its relay is gone when this session did not publish it.
        const std::string rest = topic.substr(configs.size());
        const std::string objectId = rest.substr(0, rest.find('/'));
        bool ours = false;
        for (const auto& run : site_.Runs()) {
            const std::string head = DiscoveryId(ControllerTopic(run->File())) + "_";
            const std::string tail =
                objectId.rfind(head, 0) == 0 ? objectId.substr(head.size()) : std::string();
            ours = ours || (!tail.empty() && tail.find_first_not_of("0123456789") == std::string::npos);
        }
        if (!payload.empty() && ours && !configs_.count(objectId)) Publish(topic, "", true);
        return;
    }
    // <prefix>/<ctl>/relay/<k>/set
    const std::string prefix = settings_.topicPrefix + "/";
    if (topic.rfind(prefix, 0) != 0) return;
    const std::string rest = topic.substr(prefix.size());
    const std::size_t relayAt = rest.find("/relay/");
    if (relayAt == std::string::npos) return;
    run::ControllerRun* run = RunOfTopic(rest.substr(0, relayAt));
    if (!run) return;
    const std::string tail = rest.substr(relayAt + 7);
    const std::size_t slash = tail.find('/');
    if (slash == std::string::npos || tail.substr(slash) != "/set") return;
    const std::string number = tail.substr(0, slash);
    int relay = 0;
    if (!number.empty() && number.size() <= 3 &&
        number.find_first_not_of("0123456789") == std::string::npos)
        relay = std::stoi(number);
    const std::string word = AsciiUpper(Trim(payload));
    std::optional<bool> on;
    if (word == "ON") on = true;
    if (word == "OFF") on = false;
    run->Switch(relay == 0 ? -1 : relay, on, "remote");
}

void MqttBridge::OnRunEvent(const run::RunEvent& event) {
    Controller& c = Of(event.controller);
    const run::ControllerRun* run = site_.Find(event.controller);
    if (event.kind == "run" && event.result == "started" && run) {
        if (c.announced != run->RelayCount()) {
            // After the start is complete: the decoder names the device.
            if (settings_.discovery)
                ctx_.poster.Post([shared = shared_] {
                    if (shared->bridge) shared->bridge->PublishDiscovery();
                });
        }
        c.line = "ok";
        PublishLine(event.controller);
    } else if (event.kind == "run" && event.result == "stopped") {
        c.line = "stopped";
        PublishLine(event.controller);
    } else if (event.kind == "line") {
        const std::string line = event.result == "lost"        ? "lost"
                                 : event.result == "no-answer" ? "no-answer"
                                                               : "ok";
        if (line != c.line) {
            c.line = line;
            PublishLine(event.controller);
        }
    } else if (event.kind == "state" && event.relay >= 1) {
        PublishState(event.controller, event.relay);
    }
    if (!connected_) return;
    const std::string json =
        "{\"at\":" + JsonString(event.at) + ",\"controller\":" + JsonString(event.controller) +
        ",\"relay\":" + std::to_string(event.relay) + ",\"kind\":" + JsonString(event.kind) +
        ",\"source\":" + JsonString(event.source) + ",\"result\":" + JsonString(event.result) +
        ",\"detail\":" + JsonString(event.detail) + "}";
    Publish(settings_.topicPrefix + "/" + ControllerTopic(event.controller) + "/events", json,
            false);
}

}  // namespace ristova::remote
