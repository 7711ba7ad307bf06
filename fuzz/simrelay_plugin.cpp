// The simulated controller's decoder plug-in: a result is always a state
// text that stands in the block as an answer, and a whole answer at the end
// of any block is what it decodes.
#include <cstring>

#include "FuzzSupport.h"
#include "ristova/state_plugin.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int relays = 1 + data[0] % 32;
    const std::string block(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* states = GetJDQState(reinterpret_cast<const unsigned char*>(block.data()),
                                     static_cast<std::int32_t>(block.size()));
    if (states != nullptr) {
        const std::string s(states);
        ristova::fuzz::Check(!s.empty() && s.size() <= 32 && s.find_first_not_of("01") == std::string::npos,
                             "state text of 0/1, 1 to 32 relays");
        ristova::fuzz::Check(block.find("," + s + ")E") != std::string::npos, "state stands in the block");
    }
    std::string bits;
    for (int k = 0; k < relays; ++k) bits += (data[k % size] >> (k % 8)) & 1 ? '1' : '0';
    const std::string withAnswer = block + "S(00," + bits + ")E";
    const char* last = GetJDQState(reinterpret_cast<const unsigned char*>(withAnswer.data()),
                                   static_cast<std::int32_t>(withAnswer.size()));
    ristova::fuzz::Check(last != nullptr && bits == last, "the last answer decodes");
    (void)GetDeviceDescription();
    return 0;
}
