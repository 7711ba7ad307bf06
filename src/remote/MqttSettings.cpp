#include "remote/MqttSettings.h"

#include "base/Files.h"
#include "base/IniFile.h"
#include "base/Process.h"
#include "base/TextUtils.h"

namespace ristova::remote {

namespace {

std::string Key(const std::string& file, std::string_view key) {
    return Trim(ReadIniText(file, kMqttSection, key));
}

}  // namespace

MqttSettings ReadMqttSettings(const std::string& settingsFile) {
    MqttSettings s;
    s.host = Key(settingsFile, "Host");
    const std::string port = Key(settingsFile, "Port");
    if (!port.empty()) {
        char* end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (end && *end == '\0' && value >= 1 && value <= 65535) s.port = static_cast<int>(value);
    }
    s.user = Key(settingsFile, "User");
    s.passwordFile = Key(settingsFile, "PasswordFile");
    s.tlsCaFile = Key(settingsFile, "TLSCAFile");
    s.topicPrefix = Key(settingsFile, "TopicPrefix");
    while (!s.topicPrefix.empty() && s.topicPrefix.back() == '/') s.topicPrefix.pop_back();
    if (s.topicPrefix.empty()) s.topicPrefix = "ristova/" + ControllerTopic(HostName());
    const std::string discovery = Key(settingsFile, "Discovery");
    if (!discovery.empty()) s.discovery = YesTextToBool(discovery);
    const std::string discoveryPrefix = Key(settingsFile, "DiscoveryPrefix");
    if (!discoveryPrefix.empty()) s.discoveryPrefix = discoveryPrefix;
    return s;
}

std::string ControllerTopic(const std::string& controllerFile) {
    std::string name = controllerFile;
    if (name.size() >= 4 && AsciiIEquals(name.substr(name.size() - 4), ".PSW"))
        name.resize(name.size() - 4);
    for (char& c : name)
        if (c == '+' || c == '#' || c == '/') c = '_';
    return name;
}

std::string DiscoveryId(std::string_view text) {
    static const char* hex = "0123456789abcdef";
    std::string id;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '_' || c == '-') {
            id += static_cast<char>(c);
        } else {
            id += hex[c >> 4];
            id += hex[c & 15];
        }
    }
    return id;
}

std::string JsonString(std::string_view text) {
    static const char* hex = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + '"';
}

}  // namespace ristova::remote
