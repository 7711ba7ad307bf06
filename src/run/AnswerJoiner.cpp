#include "run/AnswerJoiner.h"

namespace ristova::run {

std::string AnswerJoiner::Decode(const char* block, std::size_t count, long long nowMs,
                                 const Decoder& decode) {
    // A clock set back makes the age negative: those bytes are old too.
    if (!kept_.empty() && (nowMs - keptSinceMs_ > kJoinMaxAgeMs || nowMs < keptSinceMs_))
        kept_.clear();
    const bool wasEmpty = kept_.empty();
    std::string text = decode(block, count);
    if (!text.empty()) {
        kept_.clear();
        return text;
    }
    kept_.append(block, count);
    if (kept_.size() > kJoinMaxBytes) kept_.erase(0, kept_.size() - kJoinMaxBytes);
    if (wasEmpty) {
        keptSinceMs_ = nowMs;
        return {};
    }
    text = decode(kept_.data(), kept_.size());
    if (!text.empty()) kept_.clear();
    return text;
}

}  // namespace ristova::run
