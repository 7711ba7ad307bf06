#include "base/Codec.h"

#include <gtest/gtest.h>

namespace ristova::codec {
namespace {

TEST(Codec, RoundTripsChineseAndCharactersOutsideGbk) {
    EXPECT_EQ(ToCodePage("系统"), "\xCF\xB5\xCD\xB3");
    EXPECT_EQ(ToCodePage("𠀀"), "\x95\x32\x82\x36");
    const std::string mixed = "Quelmar电源控制器 😀𠀀 ╋√€ abc";
    EXPECT_EQ(FromCodePage(ToCodePage(mixed)), mixed);
    EXPECT_EQ(CodePageLength("a系😀"), 7u);
}

TEST(Codec, BadInputIsReplacedAndTheRestGoesOn) {
    EXPECT_EQ(FromCodePage("A\xFF"
                           "B\x80\xCF\xB5"),
              "A\uFFFDB\uFFFD系");
    EXPECT_EQ(FromCodePage("\xCF\xB5\xCD"), "系\uFFFD");  // cut off at the end
    EXPECT_EQ(ToCodePage("A\xC3(B\x80\x80系\xE7\xB3"), "A?(B?\xCF\xB5?");
}

TEST(Codec, CutsOnCharacterBoundaries) {
    EXPECT_EQ(CutToCodePageBytes("系统", 3), "系");
    EXPECT_EQ(CutToCodePageBytes("a😀", 4), "a");
    EXPECT_EQ(CutToCodePageBytes("a😀", 5), "a😀");
    EXPECT_EQ(CutCodePageBytes("a\xCF\xB5\xCD\xB3", 4), "a\xCF\xB5");
    EXPECT_EQ(CutCodePageBytes("a\x94\x39\xFC\x36"
                               "b",
                               4),
              "a");
    EXPECT_EQ(CutCodePageBytes("a\x94\x39\xFC\x36"
                               "b",
                               5),
              "a\x94\x39\xFC\x36");
}

}  // namespace
}  // namespace ristova::codec
