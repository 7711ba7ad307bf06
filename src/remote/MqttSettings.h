#pragma once
// The broker link's settings: section [MQTT] of the settings file, and the
// topic names derived from them.
#include <string>
#include <string_view>

namespace ristova::remote {

inline constexpr std::string_view kMqttSection = "MQTT";
inline constexpr int kDefaultPort = 1883;
inline constexpr int kDefaultMaxSetPerSecond = 5;
inline constexpr int kMaxMaxSetPerSecond = 1000;

struct MqttSettings {
    std::string host;  // empty: the bridge is off
    int port = kDefaultPort;
    std::string user;
    std::string passwordFile;  // the password is the file's first line
    std::string tlsCaFile;     // set: TLS with this CA
    std::string topicPrefix;   // default "ristova/<host name>"
    bool discovery = true;
    std::string discoveryPrefix = "homeassistant";
    // "set" topics subscribed and relays announced as switches.
    bool allowSet = false;
    // Remote requests let through per controller in any one second.
    int maxSetPerSecond = kDefaultMaxSetPerSecond;
    // The first value present but unusable, as the operator is told it.
    std::string invalid;
};

// Missing keys give the defaults; a value present but unusable keeps the
// default and is named in `invalid`.
MqttSettings ReadMqttSettings(const std::string& settingsFile);

// Why the bridge must not start with these settings, or empty: a value
// that is unusable, a prefix that is no plain topic, a password file
// without a user.
std::string MqttSettingsProblem(const MqttSettings& settings);

// The password file's first line; false with the reason when it cannot be
// read or other users may read it.
bool ReadPassword(const std::string& file, std::string& password, std::string& error);

// The host names this machine itself (by name or loopback address).
bool IsLoopbackHost(std::string_view host);

// A program folder's own topic level, so that instances under one prefix
// keep their own status: the folder's name and a hash of its path.
std::string InstanceId(std::string_view folder);

// A controller file's name as one topic level: without ".PSW", with "+",
// "#" and "/" as "_".
std::string ControllerTopic(const std::string& controllerFile);
// Text as a discovery id ([A-Za-z0-9_-]): other bytes as two hex digits.
std::string DiscoveryId(std::string_view text);
// A JSON string literal, quotes included.
std::string JsonString(std::string_view text);

// The permission bits of a file, as the platform tells them
// (posix/MqttSettings.cpp, win32/MqttSettings.cpp); false when it cannot be
// asked.
bool FilePermissions(const std::string& path, unsigned& bits);

}  // namespace ristova::remote
