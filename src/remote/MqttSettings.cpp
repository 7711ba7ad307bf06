#include "remote/MqttSettings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/Files.h"
#include "base/IniFile.h"
#include "base/Process.h"
#include "base/TextUtils.h"

namespace ristova::remote {

namespace {

std::string Key(const std::string& file, std::string_view key) {
    return Trim(ReadIniText(file, kMqttSection, key));
}

// A whole number from low to high, or nothing.
bool ReadNumber(const std::string& text, long low, long high, int& value) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || !end || *end != '\0' || n < low || n > high) return false;
    value = static_cast<int>(n);
    return true;
}

// Why a prefix cannot head topics that are published and subscribed.
std::string PrefixProblem(std::string_view key, const std::string& prefix) {
    const std::string head = "MQTT: " + std::string(key) + " \"" + prefix + "\" ";
    if (prefix.find_first_of("+#") != std::string::npos)
        return head + "holds + or #, which are wildcards and no topic: name plain topic levels";
    if (prefix.front() == '$')
        return head + "starts with $, which the broker keeps for its own topics";
    std::size_t from = 0;
    while (true) {
        const std::size_t slash = prefix.find('/', from);
        if (slash == from) return head + "has an empty level (a leading / or //): remove it";
        if (slash == std::string::npos) break;
        from = slash + 1;
    }
    return {};
}

}  // namespace

MqttSettings ReadMqttSettings(const std::string& settingsFile) {
    MqttSettings s;
    auto invalid = [&](std::string_view key, const std::string& value, const char* wanted) {
        if (s.invalid.empty())
            s.invalid = "MQTT: " + std::string(key) + "=" + value + " is " + wanted + " (in [" +
                        std::string(kMqttSection) + "] of " + settingsFile + ")";
    };
    s.host = Key(settingsFile, "Host");
    if (const std::string port = Key(settingsFile, "Port");
        !port.empty() && !ReadNumber(port, 1, 65535, s.port))
        invalid("Port", port, "no port number from 1 to 65535");
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
    // Only a plain YES lets strangers' messages switch relays.
    if (const std::string allow = Key(settingsFile, "AllowSet"); !allow.empty()) {
        const std::string upper = AsciiUpper(allow);
        s.allowSet = YesTextToBool(upper);
        if (!s.allowSet && upper != "NO" && upper != "FALSE")
            invalid("AllowSet", allow, "neither YES nor NO");
    }
    if (const std::string max = Key(settingsFile, "MaxSetPerSecond");
        !max.empty() && !ReadNumber(max, 1, kMaxMaxSetPerSecond, s.maxSetPerSecond))
        invalid("MaxSetPerSecond", max, "no whole number from 1 to 1000");
    return s;
}

std::string MqttSettingsProblem(const MqttSettings& s) {
    if (!s.invalid.empty()) return s.invalid;
    if (std::string p = PrefixProblem("TopicPrefix", s.topicPrefix); !p.empty()) return p;
    if (std::string p = PrefixProblem("DiscoveryPrefix", s.discoveryPrefix); !p.empty()) return p;
    if (!s.passwordFile.empty() && s.user.empty())
        return "MQTT: PasswordFile without User: the broker takes a password only with a login "
               "name; set User or remove PasswordFile";
    return {};
}

bool ReadPassword(const std::string& file, std::string& password, std::string& error) {
    unsigned bits = 0;
    if (!FilePermissions(file, bits) || !ReadFileBytes(file, password)) {
        error = "MQTT: cannot read the password file " + file;
        return false;
    }
    if (bits & 077) {
        password.clear();
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", bits);
        error = "MQTT: other users may read the password file " + file + " (mode " + mode +
                "): " + OwnerOnlyAdvice(file, "chmod 600 it");
        return false;
    }
    // The first line, without its line end.
    password = password.substr(0, password.find_first_of("\r\n"));
    return true;
}

bool IsLoopbackHost(std::string_view host) {
    const std::string h = AsciiLower(host);
    if (h == "localhost" || h == "ip6-localhost" || h == "ip6-loopback" || h == "::1" ||
        h == "[::1]" || h.ends_with(".localhost"))
        return true;
    // 127.0.0.0/8, written as a dotted address.
    return h.starts_with("127.") && h.find_first_not_of("0123456789.") == std::string::npos;
}

std::string InstanceId(std::string_view folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : folder) hash = (hash ^ c) * 16777619u;
    std::string name(folder.substr(folder.rfind('/') + 1));
    for (char& c : name)
        if (c == '+' || c == '#') c = '_';
    if (name.empty()) name = "ristova";
    char tail[16];
    std::snprintf(tail, sizeof tail, "-%08x", static_cast<unsigned>(hash));
    return name + tail;
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
