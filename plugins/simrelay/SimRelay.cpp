// Decoder for the project's simulated relay controller (ristova-sim).
// Its answer to the state query "Q(00)E" is "S(00,<one '0'/'1' per relay,
// relay 1 first>)E". Only a block that holds a whole answer decodes; a block
// with more than one answer gives the last, which is the newest state.
#include <cstring>
#include <string>

#include "ristova/state_plugin.h"

namespace {

constexpr std::size_t kMaxRelays = 32;

// Set by each call; valid until the next one, as the interface promises.
std::string lastStates;

bool IsStateChar(unsigned char c) {
    return c == '0' || c == '1';
}

// Length of the frame that starts at p, or 0 when none starts there.
std::size_t FrameAt(const unsigned char* p, std::size_t left, std::string& states) {
    // "S(" addr addr "," states ")E"
    if (left < 8 || p[0] != 'S' || p[1] != '(' || p[4] != ',') return 0;
    std::size_t i = 5;
    while (i < left && IsStateChar(p[i])) ++i;
    const std::size_t n = i - 5;
    if (n == 0 || n > kMaxRelays || i + 1 >= left || p[i] != ')' || p[i + 1] != 'E') return 0;
    states.assign(reinterpret_cast<const char*>(p + 5), n);
    return i + 2;
}

}  // namespace

RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void) {
    // "Ristova 模拟继电器控制器" in code page 936.
    return "Ristova "
           "\xC4\xA3\xC4\xE2\xBC\xCC\xB5\xE7\xC6\xF7\xBF\xD8\xD6\xC6\xC6\xF7";
}

RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char* data,
                                                                  int32_t count) {
    if (data == nullptr || count <= 0) return nullptr;
    const std::size_t size = static_cast<std::size_t>(count);
    bool found = false;
    std::string states;
    for (std::size_t at = 0; at < size;) {
        std::size_t length = FrameAt(data + at, size - at, states);
        if (length == 0) {
            ++at;
            continue;
        }
        lastStates = states;
        found = true;
        at += length;
    }
    return found ? lastStates.c_str() : nullptr;
}
