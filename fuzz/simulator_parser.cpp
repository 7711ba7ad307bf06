// The simulator's command parser: however the bytes are split over reads,
// the same commands come out, each one of the grammar.
#include <vector>

#include "FuzzSupport.h"
#include "RelayBoard.h"

using ristova::sim::RelayBoard;

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool OfTheGrammar(const RelayBoard::Command& c) {
    const std::string& t = c.text;
    if (c.query) return t == "Q(00)E";
    return t.size() == 11 && t.compare(0, 5, "O(00,") == 0 && IsDigit(t[5]) && IsDigit(t[6]) &&
           t[7] == ',' && (t[8] == '0' || t[8] == '1') && t.compare(9, 2, ")E") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int relays = 1 + data[0] % ristova::sim::kMaxRelays;
    const std::uint8_t step = data[1];
    const std::string_view bytes = ristova::fuzz::AsText(data + 2, size - 2);
    const timespec now{};

    RelayBoard whole(relays), split(relays);
    std::vector<RelayBoard::Command> a, b;
    whole.Feed(bytes, now, [&](const RelayBoard::Command& c) { a.push_back(c); });
    // Read sizes from 1 byte up, taken from the input itself.
    for (std::size_t at = 0, k = 0; at < bytes.size(); ++k) {
        const std::size_t n = 1 + (static_cast<std::size_t>(step) + k * 7) % 13;
        split.Feed(bytes.substr(at, n), now, [&](const RelayBoard::Command& c) { b.push_back(c); });
        at += n;
    }
    ristova::fuzz::Check(a.size() == b.size(), "same number of commands");
    for (std::size_t i = 0; i < a.size(); ++i) {
        ristova::fuzz::Check(a[i].text == b[i].text && a[i].answer == b[i].answer, "same commands");
        ristova::fuzz::Check(OfTheGrammar(a[i]), "command of the grammar");
    }
    ristova::fuzz::Check(whole.State() == split.State(), "same relay states");
    ristova::fuzz::Check(whole.State().size() == static_cast<std::size_t>(relays) &&
                             whole.State().find_first_not_of("01") == std::string::npos,
                         "state is one 0/1 per relay");
    return 0;
}
