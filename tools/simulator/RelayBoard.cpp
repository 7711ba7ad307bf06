#include "RelayBoard.h"

#include <cctype>

namespace ristova::sim {
namespace {

// '#' is a digit, 'b' a '0' or '1'.
constexpr std::string_view kSwitchPattern = "O(00,##,b)E";
constexpr std::string_view kQueryPattern = "Q(00)E";

}  // namespace

bool RelayBoard::Fits(char c) const {
    std::string_view pattern = pending_[0] == 'O' ? kSwitchPattern : kQueryPattern;
    char want = pattern[pending_.size()];
    if (want == '#') return std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (want == 'b') return c == '0' || c == '1';
    return c == want;
}

void RelayBoard::Feed(std::string_view bytes, const timespec& arrival, const CommandDone& done) {
    for (char c : bytes) {
        if (!pending_.empty() && Fits(c)) {
            pending_ += c;
            std::string_view pattern = pending_[0] == 'O' ? kSwitchPattern : kQueryPattern;
            if (pending_.size() == pattern.size()) Finish(done);
            continue;
        }
        // Resynchronise: a mismatch drops what was collected, and a command
        // letter starts over.
        pending_.clear();
        if (c == 'O' || c == 'Q') {
            pending_ = c;
            pendingStart_ = arrival;
        }
    }
}

void RelayBoard::Finish(const CommandDone& done) {
    Command command;
    command.text = pending_;
    command.firstByte = pendingStart_;
    pending_.clear();
    if (command.text[0] == 'Q') {
        command.query = true;
        command.answer = Answer();
    } else {
        int relay = (command.text[5] - '0') * 10 + (command.text[6] - '0');
        // Relay numbers outside 01..32 are not commands of this protocol.
        if (relay < 1 || relay > kMaxRelays) return;
        // A relay the board does not have is logged but changes nothing.
        if (relay <= static_cast<int>(state_.size()) && relay != stuck_) {
            state_[static_cast<std::size_t>(relay - 1)] = command.text[8];
        }
    }
    done(command);
}

}  // namespace ristova::sim
