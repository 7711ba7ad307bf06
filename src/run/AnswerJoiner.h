#pragma once
// Joins an answer that the line delivered in several blocks: a block that
// decodes to nothing is kept, and the next one is decoded behind it.
#include <cstddef>
#include <functional>
#include <string>

namespace ristova::run {

// Kept bytes are at most this many and this old (ms).
inline constexpr std::size_t kJoinMaxBytes = 2048;
inline constexpr long long kJoinMaxAgeMs = 1000;

class AnswerJoiner {
  public:
    using Decoder = std::function<std::string(const char* data, std::size_t count)>;

    // The block alone first, so a decoder that reads single blocks sees
    // exactly what it saw before; then the kept bytes with the block behind
    // them. Returns the decoded text (empty when nothing decoded yet).
    std::string Decode(const char* block, std::size_t count, long long nowMs,
                       const Decoder& decode);
    void Clear() { kept_.clear(); }
    std::size_t KeptBytes() const { return kept_.size(); }

  private:
    std::string kept_;
    long long keptSinceMs_ = 0;
};

}  // namespace ristova::run
