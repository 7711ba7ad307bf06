// Time text: seconds written as "hh:mm:ss" read back; any text reads.
#include <cstring>

#include "FuzzSupport.h"
#include "base/TextUtils.h"

using namespace ristova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int64_t raw = 0;
    std::memcpy(&raw, data, std::min(size, sizeof raw));
    // Hours must stay a 32-bit number for the reader.
    const long long seconds = raw % (1LL << 40);
    const std::string text = SecondsToTimeText(seconds);
    fuzz::Check(TimeTextToSeconds(text, ":") == seconds, "time text round trip");
    if (seconds >= 0 && seconds < 86400) fuzz::Check(text.size() == 8, "a day's time is hh:mm:ss");
    (void)TimeTextToSeconds(fuzz::AsText(data, size), ":");
    return 0;
}
