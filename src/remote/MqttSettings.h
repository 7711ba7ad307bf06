#pragma once
// The broker link's settings: section [MQTT] of the settings file, and the
// topic names derived from them.
#include <string>
#include <string_view>

namespace ristova::remote {

inline constexpr std::string_view kMqttSection = "MQTT";
inline constexpr int kDefaultPort = 1883;

struct MqttSettings {
    std::string host;  // empty: the bridge is off
    int port = kDefaultPort;
    std::string user;
    std::string passwordFile;  // the password is the file's first line
    std::string tlsCaFile;     // set: TLS with this CA
    std::string topicPrefix;   // default "ristova/<host name>"
    bool discovery = true;
    std::string discoveryPrefix = "homeassistant";
};

// Missing keys give the defaults; a port that is no number from 1 to 65535
// gives 1883.
MqttSettings ReadMqttSettings(const std::string& settingsFile);

// A controller file's name as one topic level: without ".PSW", with "+",
// "#" and "/" as "_".
std::string ControllerTopic(const std::string& controllerFile);
// Text as a discovery id ([A-Za-z0-9_-]): other bytes as two hex digits.
std::string DiscoveryId(std::string_view text);
// A JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace ristova::remote
