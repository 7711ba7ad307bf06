#include "comm/PortDiscovery.h"

#include <cctype>

namespace ristova::comm {

int ComPortNumber(std::string_view name) {
    if (name.size() <= 3 || name.size() > 8) return 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    }
    if (name[3] == '0') return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

std::string PortDevice(const std::string& port) {
    const int n = ComPortNumber(port);
    return n >= 1 ? NumberedPortDevice(n) : port;
}

}  // namespace ristova::comm
