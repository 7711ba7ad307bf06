#include "api/ApiSettings.h"

#include <algorithm>
#include <vector>

#include "base/Files.h"
#include "base/IniFile.h"
#include "base/TextUtils.h"

namespace ristova::api {

ApiSettings ReadApiSettings(const std::string& settingsFile) {
    ApiSettings s;
    s.listen = Trim(ReadIniText(settingsFile, kApiSection, "Listen"));
    s.tokenFile = Trim(ReadIniText(settingsFile, kApiSection, "TokenFile"));
    return s;
}

bool ParseListen(const std::string& listen, ListenAddress& address) {
    const std::size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = listen.substr(0, colon);
    const std::string port = listen.substr(colon + 1);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;  // an IPv6 address goes in brackets
    }
    long long value = 0;
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos ||
        port.size() > 5 || !TryStrToInt(port, value) || value > 65535)
        return false;
    address.host = host;
    address.port = static_cast<int>(value);
    return true;
}

bool IsLoopback(const std::string& host) {
    if (AsciiIEquals(host, "localhost") || host == "::1") return true;
    // 127.a.b.c, each part a number up to 255.
    std::vector<std::string> parts;
    SplitText(host, ".", parts);
    if (parts.size() != 4 || parts[0] != "127") return false;
    return std::all_of(parts.begin(), parts.end(), [](const std::string& part) {
        long long value = 0;
        return !part.empty() && part.size() <= 3 &&
               part.find_first_not_of("0123456789") == std::string::npos &&
               TryStrToInt(part, value) && value <= 255;
    });
}

std::string CheckTcpSettings(const ApiSettings& settings, ListenAddress& address,
                             std::string& token) {
    token.clear();
    if (!ParseListen(settings.listen, address))
        return "API: [API] Listen=" + settings.listen +
               " is no host:port (e.g. 127.0.0.1:8080); TCP is off";
    // Every TCP request must carry the token: without a file there is none
    // to carry, and an address beyond this machine would be open to all.
    if (settings.tokenFile.empty())
        return "API: [API] Listen=" + settings.listen + " needs [API] TokenFile, " +
               (IsLoopback(address.host) ? "since every TCP request must carry its token"
                                         : "since the address is not loopback") +
               "; TCP is off";
    std::string bytes;
    if (!ReadFileBytes(settings.tokenFile, bytes))
        return "API: cannot read the token file " + settings.tokenFile + "; TCP is off";
    if (OthersMayRead(settings.tokenFile))
        return "API: the token file " + settings.tokenFile +
               " can be read by others (" + OwnerOnlyAdvice(settings.tokenFile, "chmod o-rwx it") +
               "); TCP is off";
    token = Trim(bytes.substr(0, bytes.find_first_of("\r\n")));
    if (token.empty()) return "API: the token file " + settings.tokenFile + " is empty; TCP is off";
    return {};
}

bool SameToken(std::string_view given, std::string_view expected) {
    // Every byte of the longer text is looked at, whatever matched before.
    const std::size_t length = std::max(given.size(), expected.size());
    unsigned char differs = given.size() != expected.size() ? 1 : 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        const unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
        differs |= static_cast<unsigned char>(a ^ b);
    }
    return differs == 0;
}

}  // namespace ristova::api
