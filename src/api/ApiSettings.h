#pragma once
// The local API's settings: section [API] of the settings file. The socket
// in the program folder is always served; TCP only when Listen names an
// address, and then only to requests that carry the token.
#include <string>
#include <string_view>

namespace ristova::api {

inline constexpr std::string_view kApiSection = "API";
inline constexpr const char* kSocketFileName = ".ristova.sock";

struct ApiSettings {
    std::string listen;     // "host:port" ("[::1]:8080"); empty: no TCP
    std::string tokenFile;  // the token is the file's first line
};

ApiSettings ReadApiSettings(const std::string& settingsFile);

struct ListenAddress {
    std::string host;
    int port = 0;  // 0: any free port
};
// Splits "host:port"; false for anything else.
bool ParseListen(const std::string& listen, ListenAddress& address);
// 127.0.0.0/8, ::1 and "localhost".
bool IsLoopback(const std::string& host);

// The TCP listener's address and token. Empty, or why it must not start:
// a Listen that is no host:port, no token file, or a token file that cannot
// be read, is empty or that others can read.
std::string CheckTcpSettings(const ApiSettings& settings, ListenAddress& address,
                             std::string& token);

// Equal texts, compared in a time that does not depend on where they differ.
bool SameToken(std::string_view given, std::string_view expected);

}  // namespace ristova::api
