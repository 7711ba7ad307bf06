// Time text: seconds written as "hh:mm:ss" read back; any text reads. A plan
// row's time cell is a second of the day or nothing, and reads back the same.
#include <cstring>

#include "FuzzSupport.h"
#include "base/TextUtils.h"
#include "plan/PlanRow.h"

using namespace ristova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int64_t raw = 0;
    std::memcpy(&raw, data, std::min(size, sizeof raw));
    // Hours must stay a 32-bit number for the reader.
    const long long seconds = raw % (1LL << 40);
    const std::string text = SecondsToTimeText(seconds);
    fuzz::Check(TimeTextToSeconds(text, ":") == seconds, "time text round trip");
    if (seconds >= 0 && seconds < 86400) fuzz::Check(text.size() == 8, "a day's time is hh:mm:ss");
    const std::string_view input = fuzz::AsText(data, size);
    (void)TimeTextToSeconds(input, ":");
    if (seconds >= 0 && seconds < 86400)
        fuzz::Check(plan::ParseTimeCell(text) == seconds, "a day's time is a plan time");
    if (const std::optional<int> cell = plan::ParseTimeCell(input)) {
        fuzz::Check(*cell >= 0 && *cell <= plan::kLastSecondOfDay, "a plan time is in the day");
        fuzz::Check(plan::ParseTimeCell(SecondsToTimeText(*cell)) == cell, "plan time round trip");
    }
    return 0;
}
