#include "remote/MqttBridge.h"

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

#include "base/Files.h"
#include "base/Process.h"
#include "base/TextUtils.h"

namespace ristova::remote {

namespace {

using namespace std::chrono_literals;

constexpr int kKeepAliveSeconds = 10;
constexpr int kMinReconnectSeconds = 1;
constexpr int kMaxReconnectSeconds = 60;
// The client thread looks at least this often whether it is to stop.
constexpr int kLoopMs = 1000;

// CONNACK codes of a refused login (MQTT 3.1.1 and 5).
bool LoginRefused(int rc) {
    return rc == 4 || rc == 5 || rc == 134 || rc == 135;
}

int InitLibrary() {
    static std::once_flag once;
    static int rc = MOSQ_ERR_SUCCESS;
    std::call_once(once, [] { rc = mosquitto_lib_init(); });
    return rc;
}

std::string ErrorText(int rc) {
    return mosquitto_strerror(rc);
}

// A positive relay number as the bridge writes it: no sign, no leading zero.
bool RelayNumber(std::string_view text) {
    return !text.empty() && text.size() <= 3 && text.front() != '0' &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

// What the client thread shares with the main thread. The thread holds it
// to its end, and so do posted calls, so it outlives the bridge; the client
// goes with it.
struct MqttBridge::Shared : std::enable_shared_from_this<Shared> {
    Shared(IMainThreadPoster& p, MqttBridge* b) : poster(p), bridge(b) {}
    ~Shared() {
        if (mosq) mosquitto_destroy(mosq);
    }
    // Any thread; nothing once the bridge has gone.
    void Post(std::function<void()> call) {
        std::lock_guard lock(mutex);
        if (!closed) poster.Post(std::move(call));
    }
    std::string TakeLog() {
        std::lock_guard lock(mutex);
        return std::exchange(log, std::string());
    }

    IMainThreadPoster& poster;
    MqttBridge* bridge;  // main thread only; null once the bridge is going
    mosquitto* mosq = nullptr;
    std::string host;
    int port = 0;
    std::mutex mutex;
    std::condition_variable wake;
    bool closed = false;    // the poster is no longer there (under mutex)
    bool finished = false;  // the thread is done (under mutex)
    std::atomic<bool> stop{false};
    // Client thread: the connection was accepted; the CONNACK and
    // disconnect codes of the last attempt.
    std::atomic<bool> connected{false};
    std::atomic<bool> loginRefused{false};
    std::atomic<int> connack{0};
    std::atomic<int> disconnect{0};
    std::atomic<std::uint64_t> dropped{0};
    std::string log;  // the library's last error line (under mutex)
};

MqttBridge::MqttBridge(AppContext& ctx, run::Site& site) : ctx_(ctx), site_(site) {}

MqttBridge::~MqttBridge() {
    if (!shared_) return;
    site_.Events().Remove(this);
    shared_->bridge = nullptr;
    // A clean end says so itself: the broker sends the will only on a loss.
    if (connected_) Publish(statusTopic_, "offline", true);
    const int rc = mosquitto_disconnect(shared_->mosq);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN)
        std::fprintf(stderr, "ristova: MQTT: disconnect: %s\n", ErrorText(rc).c_str());
    bool finished = false;
    {
        std::unique_lock lock(shared_->mutex);
        shared_->stop = true;
        shared_->wake.notify_all();
        // It writes what is queued for up to 500 ms. A thread held up in a
        // name look-up is left to end by itself; it holds all it uses.
        finished = shared_->wake.wait_for(lock, 2s, [&] { return shared_->finished; });
        shared_->closed = true;
    }
    if (finished)
        thread_.join();
    else
        thread_.detach();
}

bool MqttBridge::Refuse(const std::string& why, const char* result) {
    error_ = why;
    shared_.reset();
    Tell({}, 0, "remote", "broker", result, why);
    return false;
}

bool MqttBridge::Start(const MqttSettings& settings) {
    error_.clear();
    if (settings.host.empty() || shared_) return true;
    settings_ = settings;
    if (const std::string problem = MqttSettingsProblem(settings); !problem.empty())
        return Refuse(problem, "setting-invalid");
    std::string password;
    std::string error;
    if (!settings.passwordFile.empty() && !ReadPassword(settings.passwordFile, password, error))
        return Refuse(error, "setting-invalid");
    if (const int rc = InitLibrary(); rc != MOSQ_ERR_SUCCESS)
        return Refuse("MQTT: the client library did not start: " + ErrorText(rc), "error");
    node_ = DiscoveryId(settings.topicPrefix);
    // The same folder however it was named (a link, "..", a trailing "/").
    std::error_code canonicalError;
    const std::string folder =
        Utf8Path(std::filesystem::weakly_canonical(FsPath(ctx_.sAppPath), canonicalError));
    const std::string instance = InstanceId(canonicalError ? ctx_.sAppPath : folder);
    statusTopic_ = settings.topicPrefix + "/" + instance + "/status";
    eventsTopic_ = settings.topicPrefix + "/" + instance + "/events";
    shared_ = std::make_shared<Shared>(ctx_.poster, this);
    shared_->host = settings.host;
    shared_->port = settings.port;
    const std::string id = "ristova-" + node_ + "-" + std::to_string(ProcessId());
    shared_->mosq = mosquitto_new(id.c_str(), true, shared_.get());
    if (!shared_->mosq)
        return Refuse("MQTT: no client: " + std::generic_category().message(errno), "error");
    mosquitto* mosq = shared_->mosq;
    auto failed = [&](const char* call, int rc) {
        if (rc == MOSQ_ERR_SUCCESS) return false;
        Refuse("MQTT: " + std::string(call) + ": " + ErrorText(rc), "setting-invalid");
        return true;
    };
    if (failed("protocol",
               mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311)) ||
        failed("threads", mosquitto_threaded_set(mosq, true)))
        return false;
    if (!settings.user.empty() &&
        failed("User", mosquitto_username_pw_set(
                           mosq, settings.user.c_str(),
                           settings.passwordFile.empty() ? nullptr : password.c_str())))
        return false;
    if (!settings.tlsCaFile.empty() &&
        failed(("TLS with TLSCAFile " + settings.tlsCaFile).c_str(),
               mosquitto_tls_set(mosq, settings.tlsCaFile.c_str(), nullptr, nullptr, nullptr,
                                 nullptr)))
        return false;
    if (failed("last will", mosquitto_will_set(mosq, statusTopic_.c_str(), 7, "offline", 1, true)))
        return false;
    mosquitto_connect_callback_set(mosq, &MqttBridge::OnConnect);
    mosquitto_disconnect_callback_set(mosq, &MqttBridge::OnDisconnect);
    mosquitto_message_callback_set(mosq, &MqttBridge::OnMessage);
    mosquitto_log_callback_set(mosq, &MqttBridge::OnLog);
    for (const auto& run : site_.Runs()) {
        Controller& c = Of(run->File());
        c.line = run::LineCode(*run);
    }
    try {
        thread_ = std::thread(&MqttBridge::ClientLoop, shared_);
    } catch (const std::system_error& e) {
        return Refuse("MQTT: no client thread: " + std::string(e.what()), "error");
    }
    site_.Events().Add(this);
    unconnectedSince_ = Clock::now();
    if (!settings.user.empty() && !settings.passwordFile.empty() && settings.tlsCaFile.empty() &&
        !IsLoopbackHost(settings.host))
        Report("MQTT: the password goes to " + settings.host +
                   " unencrypted: set TLSCAFile and the broker's TLS port",
               "warning");
    return true;
}

// --- client thread -----------------------------------------------------

void MqttBridge::ClientLoop(std::shared_ptr<Shared> s) {
    auto lastTick = Clock::now();
    // The main thread's timing (limits, drops, the 30 s) is driven from here.
    auto tick = [&] {
        if (Clock::now() - lastTick < 1s) return;
        lastTick = Clock::now();
        s->Post([s] {
            if (s->bridge) s->bridge->Tick();
        });
    };
    // False when the bridge stops first.
    auto pause = [&](std::chrono::seconds length) {
        const auto until = Clock::now() + length;
        std::unique_lock lock(s->mutex);
        while (!s->stop) {
            if (Clock::now() >= until) return true;
            s->wake.wait_until(lock, std::min(until, lastTick + 1s));
            lock.unlock();
            tick();
            lock.lock();
        }
        return false;
    };
    int delay = kMinReconnectSeconds;
    bool initialised = false;
    while (!s->stop) {
        s->connected = false;
        s->TakeLog();
        // Reconnects keep the wake-up pipe that publishing from the main
        // thread writes to; only the first connect makes it.
        errno = 0;
        int rc = initialised ? mosquitto_reconnect_async(s->mosq)
                             : mosquitto_connect_async(s->mosq, s->host.c_str(), s->port,
                                                       kKeepAliveSeconds);
        int error = errno;
        initialised = initialised || (rc != MOSQ_ERR_INVAL && rc != MOSQ_ERR_NOMEM);
        while (rc == MOSQ_ERR_SUCCESS && !s->stop && !s->loginRefused) {
            rc = mosquitto_loop(s->mosq, kLoopMs, 1);
            error = errno;
            tick();
        }
        if (s->stop) break;
        // A refused login is not tried again: the settings must change.
        if (s->loginRefused) {
            pause(std::chrono::hours(24 * 365 * 100));
            break;
        }
        if (s->connected) {
            delay = kMinReconnectSeconds;
        } else {
            std::string reason =
                rc == MOSQ_ERR_ERRNO          ? std::generic_category().message(error)
                : rc == MOSQ_ERR_CONN_REFUSED ? mosquitto_connack_string(s->connack)
                : rc == MOSQ_ERR_NO_CONN && s->disconnect != 0 ? ErrorText(s->disconnect)
                                                               : ErrorText(rc);
            if (const std::string log = s->TakeLog(); !log.empty()) reason += "; " + log;
            s->Post([s, reason] {
                if (s->bridge) s->bridge->HandleAttemptFailed(reason);
            });
        }
        if (!pause(std::chrono::seconds(delay))) break;
        delay = std::min(delay * 2, kMaxReconnectSeconds);
    }
    // The "offline" and the goodbye that the main thread queued go out first.
    const auto deadline = Clock::now() + 500ms;
    while (Clock::now() < deadline && mosquitto_loop(s->mosq, 50, 1) == MOSQ_ERR_SUCCESS) {
    }
    std::lock_guard lock(s->mutex);
    s->finished = true;
    s->wake.notify_all();
}

void MqttBridge::OnConnect(mosquitto*, void* self, int rc) {
    auto shared = static_cast<Shared*>(self)->shared_from_this();
    shared->connack = rc;
    if (rc == 0) shared->connected = true;
    if (LoginRefused(rc)) shared->loginRefused = true;
    shared->Post([shared, rc] {
        if (shared->bridge) shared->bridge->HandleConnect(rc);
    });
}

void MqttBridge::OnDisconnect(mosquitto*, void* self, int rc) {
    auto shared = static_cast<Shared*>(self)->shared_from_this();
    shared->disconnect = rc;
    shared->Post([shared] {
        if (shared->bridge) shared->bridge->HandleDisconnect();
    });
}

void MqttBridge::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* s = static_cast<Shared*>(self);
    if (!message->topic) return;
    std::string topic = message->topic;
    const int length = message->payload ? message->payloadlen : 0;
    if (topic.ends_with("/set")) {
        // Looked at before it is copied: a huge payload costs no memory of ours.
        if (length > kMaxCommandBytes) {
            ++s->dropped;
            return;
        }
        auto shared = s->shared_from_this();
        std::string payload(static_cast<const char*>(message->payload),
                            static_cast<std::size_t>(length));
        shared->Post([shared, topic = std::move(topic), payload = std::move(payload),
                      retained = message->retain] {
            if (shared->bridge) shared->bridge->Received(topic, payload, retained);
        });
        return;
    }
    // A retained discovery config: only whether it is there counts.
    auto shared = s->shared_from_this();
    shared->Post([shared, topic = std::move(topic), nonEmpty = length > 0] {
        if (shared->bridge) shared->bridge->ReceivedConfig(topic, nonEmpty);
    });
}

void MqttBridge::OnLog(mosquitto*, void* self, int level, const char* text) {
    if (!(level & MOSQ_LOG_ERR) || !text) return;
    auto* s = static_cast<Shared*>(self);
    std::lock_guard lock(s->mutex);
    s->log = text;
}

// --- main thread -------------------------------------------------------

std::string MqttBridge::Address() const {
    return settings_.host + ":" + std::to_string(settings_.port);
}

void MqttBridge::Tell(const std::string& controller, int relay, const char* kind,
                      const char* source, const char* result, const std::string& detail) {
    run::RunEvent event;
    event.at = run::EventTimeText(ctx_.clock.Now());
    event.controller = controller;
    event.relay = relay;
    event.kind = kind;
    event.source = source;
    event.result = result;
    event.detail = detail;
    site_.Events().OnRunEvent(event);
}

void MqttBridge::Report(const std::string& text, const char* result) {
    ctx_.status.ShowStatus(3, text);
    std::fprintf(stderr, "ristova: %s\n", text.c_str());
    Tell({}, 0, "remote", "broker", result, text);
}

void MqttBridge::ReportFailure(const std::string& call, int rc) {
    // Once until the next connect: a failing publish is not told per state.
    if (!failuresTold_.insert(call + std::to_string(rc)).second) return;
    Report("远程: " + call + " 失败: " + ErrorText(rc), "error");
}

void MqttBridge::HandleConnect(int rc) {
    if (rc != 0) {
        if (LoginRefused(rc) && !loginRefused_) {
            loginRefused_ = true;
            Report(kRemoteRefused, "login-refused");
        }
        return;
    }
    connected_ = true;
    everConnected_ = true;
    unreachableTold_ = false;
    lastReason_.clear();
    failuresTold_.clear();
    Report(kRemoteConnected + Address(), "connected");
    if (settings_.allowSet) Subscribe(settings_.topicPrefix + "/+/relay/+/set");
    if (settings_.discovery) {
        // Retained configs of this node come back: those of relays that are
        // gone, or announced as the other kind, are removed.
        for (const char* component : {"switch", "binary_sensor"})
            Subscribe(settings_.discoveryPrefix + "/" + component + "/" + node_ + "/+/config");
    }
    PublishAll();
}

void MqttBridge::HandleDisconnect() {
    if (!connected_) return;
    connected_ = false;
    unconnectedSince_ = Clock::now();
    unreachableTold_ = false;
    Report(kRemoteLost, "lost");
}

void MqttBridge::HandleAttemptFailed(const std::string& reason) {
    lastReason_ = reason;
    // Before the first connect a failure is news at once; after a loss the
    // loss was, and the 30 s tell the rest.
    if (everConnected_ || unreachableTold_) return;
    unreachableTold_ = true;
    Report(kRemoteUnreachable + Address() + " (" + reason + ")" + kRemoteRetrying, "unreachable");
}

void MqttBridge::Tick() {
    const auto now = Clock::now();
    for (auto& [controller, c] : controllers_) TellLimited(controller, c, now);
    dropsToTell_ += shared_->dropped.exchange(0);
    if (dropsToTell_ > 0 && now - dropsToldAt_ >= 1s) {
        Tell({}, 0, "switch", "remote", "dropped",
             "payload over " + std::to_string(kMaxCommandBytes) +
                 " bytes: " + std::to_string(dropsToTell_) + " messages");
        dropsToTell_ = 0;
        dropsToldAt_ = now;
    }
    if (!connected_ && !loginRefused_ && !unreachableTold_ &&
        now - unconnectedSince_ >= std::chrono::milliseconds(kUnreachableReportMs)) {
        unreachableTold_ = true;
        Report(kRemoteUnreachable + Address() + " (" +
                   (lastReason_.empty() ? std::string("no answer") : lastReason_) + ")" +
                   kRemoteRetrying,
               "unreachable");
    }
}

void MqttBridge::Publish(const std::string& topic, const std::string& payload, bool retain) {
    if (!shared_) return;
    // Only queued here; the client thread writes. Without a connection it
    // is dropped: a reconnect publishes everything again.
    const int rc =
        mosquitto_publish(shared_->mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), retain ? 1 : 0, retain);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) ReportFailure("publish " + topic, rc);
}

void MqttBridge::Subscribe(const std::string& filter) {
    const int rc = mosquitto_subscribe(shared_->mosq, nullptr, filter.c_str(), 1);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) ReportFailure("subscribe " + filter, rc);
}

MqttBridge::Controller& MqttBridge::Of(const std::string& controller) {
    return controllers_[controller];
}

std::string MqttBridge::ControllerPrefix(const std::string& controller) const {
    return settings_.topicPrefix + "/" + ControllerTopic(controller);
}

const char* MqttBridge::Component() const {
    // Without AllowSet nothing takes commands: Home Assistant shows states.
    return settings_.allowSet ? "switch" : "binary_sensor";
}

std::string MqttBridge::DiscoveryTopic(const char* component, const std::string& objectId) const {
    return settings_.discoveryPrefix + "/" + component + "/" + node_ + "/" + objectId + "/config";
}

run::ControllerRun* MqttBridge::RunOfTopic(const std::string& level) const {
    for (const auto& run : site_.Runs())
        if (ControllerTopic(run->File()) == level) return run.get();
    return nullptr;
}

void MqttBridge::PublishAll() {
    Publish(statusTopic_, "online", true);
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
            std::string config =
                "{\"unique_id\":" + JsonString("ristova_" + node_ + "_" + objectId) +
                ",\"name\":" + JsonString(relay.Name());
            if (settings_.allowSet)
                config += ",\"command_topic\":" + JsonString(topic + "/set") +
                          ",\"state_on\":\"ON\",\"state_off\":\"OFF\"";
            config += ",\"state_topic\":" + JsonString(topic + "/state") +
                      ",\"availability_topic\":" + JsonString(statusTopic_) +
                      ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"" +
                      ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\",\"device\":" + device + "}";
            Publish(DiscoveryTopic(Component(), objectId), config, true);
            current.insert(objectId);
        }
        Of(run->File()).announced = run->RelayCount();
    }
    for (const std::string& old : configs_)
        if (!current.count(old)) Publish(DiscoveryTopic(Component(), old), "", true);
    configs_ = std::move(current);
}

bool MqttBridge::OwnConfig(const std::string& objectId) const {
    for (const auto& run : site_.Runs()) {
        const std::string head = DiscoveryId(ControllerTopic(run->File())) + "_";
        if (objectId.size() > head.size() && objectId.starts_with(head) &&
            RelayNumber(std::string_view(objectId).substr(head.size())))
            return true;
    }
    return false;
}

void MqttBridge::ReceivedConfig(const std::string& topic, bool nonEmpty) {
    // <DiscoveryPrefix>/<component>/<node>/<id>/config, left from an earlier
    // run of one of the site's controllers: removed when this session did
    // not publish it as this component.
    const std::string head = settings_.discoveryPrefix + "/";
    if (!nonEmpty || !topic.starts_with(head)) return;
    const std::string rest = topic.substr(head.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos) return;
    const std::string component = rest.substr(0, slash);
    const std::string node = "/" + node_ + "/";
    if (rest.compare(slash, node.size(), node) != 0 || !rest.ends_with("/config")) return;
    const std::size_t idAt = slash + node.size();
    if (rest.size() <= idAt + 7) return;
    const std::string objectId = rest.substr(idAt, rest.size() - idAt - 7);
    if (objectId.find('/') != std::string::npos || !OwnConfig(objectId)) return;
    if (component != Component() || !configs_.count(objectId)) Publish(topic, "", true);
}

bool MqttBridge::Admit(Controller& c, Clock::time_point now) const {
    while (!c.admitted.empty() && now - c.admitted.front() >= 1s) c.admitted.pop_front();
    if (static_cast<int>(c.admitted.size()) >= settings_.maxSetPerSecond) return false;
    c.admitted.push_back(now);
    return true;
}

void MqttBridge::TellLimited(const std::string& controller, Controller& c, Clock::time_point now) {
    // One row a second carries the count.
    if (c.limited == 0 || now - c.limitedSince < 1s) return;
    Tell(controller, 0, "switch", "remote", "refused",
         "rate limit: " + std::to_string(c.limited) + " requests");
    c.limited = 0;
}

void MqttBridge::Received(const std::string& topic, const std::string& payload, bool retained) {
    if (!settings_.allowSet) return;
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
    Controller& c = Of(run->File());
    const auto now = Clock::now();
    TellLimited(run->File(), c, now);
    // A flood is refused before it reaches the run and costs one row a second.
    if (!Admit(c, now)) {
        if (c.limited++ == 0) c.limitedSince = now;
        return;
    }
    const std::string number = tail.substr(0, slash);
    int relay = 0;
    if (!number.empty() && number.size() <= 3 &&
        number.find_first_not_of("0123456789") == std::string::npos)
        relay = std::stoi(number);
    const std::string word = AsciiUpper(Trim(payload));
    std::optional<bool> on;
    if (word == "ON") on = true;
    if (word == "OFF") on = false;
    if (retained) {
        // Left on the broker, it would switch again at every reconnect.
        const char* kind = !on ? "switch" : *on ? "on" : "off";
        Tell(run->File(), std::max(relay, 0), kind, "remote", "refused", kRetainedIgnored);
        return;
    }
    run->Switch(relay == 0 ? -1 : relay, on, "remote");
}

void MqttBridge::OnRunEvent(const run::RunEvent& event) {
    // The site's own events (no controller) have no controller topics.
    if (!event.controller.empty()) {
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
    }
    if (!connected_) return;
    const std::string json =
        "{\"at\":" + JsonString(event.at) + ",\"controller\":" + JsonString(event.controller) +
        ",\"relay\":" + std::to_string(event.relay) + ",\"kind\":" + JsonString(event.kind) +
        ",\"source\":" + JsonString(event.source) + ",\"result\":" + JsonString(event.result) +
        ",\"detail\":" + JsonString(event.detail) + "}";
    Publish(
        event.controller.empty() ? eventsTopic_ : ControllerPrefix(event.controller) + "/events",
        json, false);
}

}  // namespace ristova::remote
