#include "run/SwitchConfirmation.h"

#include <algorithm>

namespace ristova::run {

SwitchConfirmation::Relay& SwitchConfirmation::At(int relay) {
    if (static_cast<int>(relays_.size()) < relay) relays_.resize(relay);
    return relays_[relay - 1];
}

void SwitchConfirmation::Expect(int relay, bool on) {
    if (relay < 1) return;
    Relay& r = At(relay);
    r.expecting = true;
    r.wanted = on;
    r.answersLeft = kConfirmAnswers;
}

std::vector<SwitchConfirmation::Mismatch> SwitchConfirmation::Answer(const std::string& states) {
    std::vector<Mismatch> raised;
    const int count = std::min<int>(static_cast<int>(relays_.size()), static_cast<int>(states.size()));
    for (int i = 0; i < count; ++i) {
        Relay& r = relays_[i];
        const char seen = states[i];
        if (!r.expecting || (seen != '0' && seen != '1')) continue;
        if ((seen == '1') == r.wanted) {
            if (r.mismatched) ++revision_;
            r.mismatched = false;
            r.answersLeft = 0;
            continue;
        }
        if (r.mismatched || r.answersLeft == 0) continue;
        if (--r.answersLeft > 0) continue;
        r.mismatched = true;
        ++revision_;
        raised.push_back({i + 1, r.wanted, seen});
    }
    return raised;
}

bool SwitchConfirmation::Mismatched(int relay) const {
    return relay >= 1 && relay <= static_cast<int>(relays_.size()) && relays_[relay - 1].mismatched;
}

void SwitchConfirmation::Clear() {
    for (const Relay& r : relays_)
        if (r.mismatched) ++revision_;
    relays_.clear();
}

}  // namespace ristova::run
