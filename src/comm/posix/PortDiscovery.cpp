// Serial ports on Linux: the on-board ports are /dev/ttyS*, adapters show up
// under /dev/serial/by-id/ with stable names and as /dev/ttyUSB*, /dev/ttyACM*.
#include "comm/PortDiscovery.h"

#include <algorithm>
#include <filesystem>

namespace ristova::comm {

namespace {

void AppendSortedMatches(std::vector<std::string>& out, const std::filesystem::path& folder,
                         std::string_view prefix) {
    std::vector<std::string> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(prefix)) found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    out.insert(out.end(), found.begin(), found.end());
}

}  // namespace

std::string NumberedPortDevice(int n) {
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::vector<std::string> PresentSerialDevices() {
    std::vector<std::string> devices;
    AppendSortedMatches(devices, "/dev/serial/by-id", "");
    AppendSortedMatches(devices, "/dev", "ttyUSB");
    AppendSortedMatches(devices, "/dev", "ttyACM");
    return devices;
}

std::string DeviceBehind(const std::string& port) {
    if (const std::string device = PortDevice(port); device != port) return device;
    std::error_code ec;
    if (!std::filesystem::is_symlink(port, ec)) return {};
    const std::filesystem::path target = std::filesystem::canonical(port, ec);
    return ec ? std::string() : target.string();
}

std::string TypedDevice(const std::string& typed) {
    return typed.find('/') == std::string::npos ? "/dev/" + typed : typed;
}

}  // namespace ristova::comm
