#include "run/AnswerJoiner.h"

#include <gtest/gtest.h>

#include <string>

namespace ristova::run {
namespace {

// Decodes "<...>" frames only when whole, as a strict plug-in does.
std::string Frame(const char* data, std::size_t count) {
    const std::string text(data, count);
    const auto open = text.rfind('<');
    const auto close = text.find('>', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) return {};
    return text.substr(open + 1, close - open - 1);
}

std::string Feed(AnswerJoiner& joiner, const std::string& block, long long ms) {
    return joiner.Decode(block.data(), block.size(), ms, Frame);
}

TEST(AnswerJoiner, AnswersInPiecesDecodeOnceWholeAndWholeBlocksAsBefore) {
    AnswerJoiner joiner;
    EXPECT_EQ(Feed(joiner, "<0101>", 0), "0101");
    EXPECT_EQ(joiner.KeptBytes(), 0u);
    EXPECT_EQ(Feed(joiner, "<01", 10), "");
    EXPECT_EQ(Feed(joiner, "1", 40), "");
    EXPECT_EQ(Feed(joiner, "0>", 70), "0110");
    EXPECT_EQ(joiner.KeptBytes(), 0u);
    // A whole answer behind kept garbage still decodes by itself.
    EXPECT_EQ(Feed(joiner, "xx", 100), "");
    EXPECT_EQ(Feed(joiner, "<1111>", 120), "1111");
}

TEST(AnswerJoiner, KeptBytesAreBoundedInSizeAndAge) {
    AnswerJoiner joiner;
    EXPECT_EQ(Feed(joiner, "<10", 0), "");
    // More than a second later the first half is stale: no frame from halves
    // of two different answers.
    EXPECT_EQ(Feed(joiner, "01>", 1001), "");
    EXPECT_EQ(joiner.KeptBytes(), 3u);
    // A clock set back makes the kept bytes stale too.
    EXPECT_EQ(Feed(joiner, "<1", 500), "");
    EXPECT_EQ(joiner.KeptBytes(), 2u);
    for (int i = 0; i < 10; ++i) Feed(joiner, std::string(1000, 'x'), 600);
    EXPECT_EQ(joiner.KeptBytes(), kJoinMaxBytes);
}

}  // namespace
}  // namespace ristova::run
