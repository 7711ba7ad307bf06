#include "app/Codec.h"

#include <gtest/gtest.h>

namespace ristova::codec {
namespace {

TEST(Codec, RoundTripsChineseAndCharactersOutsideGbk) {
    EXPECT_EQ(ToCodePage("系统"), "\xCF\xB5\xCD\xB3");
    EXPECT_EQ(ToCodePage("😀"), "\x94\x39\xFC\x36");
    EXPECT_EQ(ToCodePage("𠀀"), "\x95\x32\x82\x36");
    const std::string mixed = "Quelmar电源控制器 😀𠀀 ╋√€ abc";
    EXPECT_EQ(FromCodePage(ToCodePage(mixed)), mixed);
    EXPECT_EQ(CodePageLength("a系😀"), 1u + 2u + 4u);
    EXPECT_EQ(ToCodePage(""), "");
    EXPECT_EQ(FromCodePage(""), "");
}

TEST(Codec, UndecodableBytesBecomeReplacementAndTheRestGoesOn) {
    EXPECT_EQ(FromCodePage("A\xFF"
                           "B"),
              "A\uFFFDB");
    EXPECT_EQ(FromCodePage("\x80\xCF\xB5"), "\uFFFD系");
    // A lead byte cut off at the end of the text.
    EXPECT_EQ(FromCodePage("\xCF\xB5\xCD"), "系\uFFFD");
    EXPECT_EQ(FromCodePage(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Codec, InvalidUtf8BecomesQuestionMark) {
    EXPECT_EQ(ToCodePage("A\xC3(B"), "A?(B");
    EXPECT_EQ(ToCodePage("x\xE7\xB3"), "x?");  // cut-off sequence at the end
    EXPECT_EQ(ToCodePage("\x80\x80系"), "?\xCF\xB5");
}

TEST(Codec, CutsOnCharacterBoundaries) {
    EXPECT_EQ(CutToCodePageBytes("系统", 3), "系");
    EXPECT_EQ(CutToCodePageBytes("系统", 4), "系统");
    EXPECT_EQ(CutToCodePageBytes("a😀", 4), "a");
    EXPECT_EQ(CutToCodePageBytes("a😀", 5), "a😀");
    EXPECT_EQ(CutToCodePageBytes("abc", 0), "");

    EXPECT_EQ(CutCodePageBytes("a\xCF\xB5\xCD\xB3", 4), "a\xCF\xB5");
    EXPECT_EQ(CutCodePageBytes("a\x94\x39\xFC\x36"
                               "b",
                               4),
              "a");
    EXPECT_EQ(CutCodePageBytes("a\x94\x39\xFC\x36"
                               "b",
                               5),
              "a\x94\x39\xFC\x36");
    EXPECT_EQ(CutCodePageBytes("abc", 10), "abc");
}

}  // namespace
}  // namespace ristova::codec
