#include "base/TextUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ristova {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

TEST(TextUtils, DelimitedFieldsCountFromOneAndTakeSeveralCharacterDelimiters) {
    EXPECT_EQ(GetDelimitedField("12:30:05", ":", 3), "05");
    EXPECT_EQ(GetDelimitedField("12:30:05", ":", 4), "");
    EXPECT_EQ(GetDelimitedField("12:30:05", ":", 0), "");
    EXPECT_EQ(GetDelimitedField("", ":", 1), "");
    EXPECT_EQ(CountDelimitedFields("", ":"), 1);
    EXPECT_EQ(GetDelimitedField("a^^b^c^^d", "^^", 2), "b^c");
    EXPECT_EQ(GetDelimitedField("a^^b^c^^d", "^^", 3), "d");
    EXPECT_EQ(CountDelimitedFields("a^^b^c^^d", "^^"), 3);
    EXPECT_EQ(CountDelimitedFields("a,b,", ","), 3);
    EXPECT_EQ(GetDelimitedField("a,b,", ",", 3), "");
}

TEST(TextUtils, SplitDropsOnlyAnEmptyRestAndJoinEndsEveryItem) {
    std::vector<std::string> list = {"stale"};
    SplitText("a,,b,", ",", list);
    EXPECT_THAT(list, ElementsAre("a", "", "b"));
    EXPECT_EQ(JoinText(list, ","), "a,,b,");
    SplitText("x^^yz", "^^", list);
    EXPECT_THAT(list, ElementsAre("x", "yz"));
    SplitText("", ",", list);
    EXPECT_TRUE(list.empty());
}

TEST(TextUtils, TimeTexts) {
    EXPECT_EQ(SecondsToTimeText(59), "00:00:59");
    EXPECT_EQ(SecondsToTimeText(86400), "24:00:00");
    EXPECT_EQ(SecondsToTimeText(362439), "100:40:39");
    EXPECT_EQ(PadLeft("1234", ' ', 3), "1234");
    EXPECT_EQ(PadLeft("12", ' ', -1), "");
    EXPECT_EQ(TimeTextToSeconds("8:5", ":"), 29100);
    EXPECT_EQ(TimeTextToSeconds("  7 : 05 :", ":"), 25500);
    EXPECT_EQ(TimeTextToSeconds("ab:10:10", ":"), 610);
    EXPECT_EQ(TimeTextToSeconds("01:02:03:04", ":"), 3723);
    EXPECT_EQ(TimeTextToSeconds("", ":"), 0);
    EXPECT_EQ(TimeTextToSeconds("1h2m3h4", "h"), 3600 + 4);
    EXPECT_EQ(TimeTextToSeconds("$A:0x1:1", ":"), 1) << "fields are decimal only";
}

TEST(TextUtils, YesAndTrueInAnyCaseAreTrue) {
    EXPECT_TRUE(YesTextToBool("yEs"));
    EXPECT_TRUE(YesTextToBool("True"));
    EXPECT_FALSE(YesTextToBool(" YES"));
    EXPECT_FALSE(YesTextToBool("1"));
}

TEST(TextUtils, IntegersAreStrictAndThirtyTwoBit) {
    EXPECT_EQ(StrToIntDef(" -7 ", 5), -7);
    EXPECT_EQ(StrToIntDef("$1f", 5), 31);
    EXPECT_EQ(StrToIntDef("0x10", 5), 16);
    EXPECT_EQ(StrToIntDef("$FFFFFFFF", 5), -1);
    EXPECT_EQ(StrToIntDef("-2147483648", 5), -2147483648LL);
    long long v = 0;
    for (const char* bad : {"", " ", "+", "-", "$", "0x", "1 2", "12a", "1.5", "2147483648",
                            "$100000000", "99999999999999999999999"}) {
        EXPECT_FALSE(TryStrToInt(bad, v)) << '"' << bad << '"';
    }
}

TEST(TextUtils, HexTextIgnoresBlanksAndRefusesEveryOtherNonDigit) {
    EXPECT_EQ(HexToBytes("4f0D"), (Bytes{0x4F, 0x0D}));
    EXPECT_EQ(HexToBytes("41 42"), (Bytes{0x41, 0x42}));
    EXPECT_EQ(HexToBytes(" 4\t1 4 2 "), (Bytes{0x41, 0x42}));
    // An odd last digit is dropped.
    EXPECT_EQ(HexToBytes("ABC"), (Bytes{0xAB}));
    EXPECT_EQ(HexToBytes("7"), Bytes{});
    EXPECT_EQ(HexToBytes(""), Bytes{});
    for (const char* bad : {"0G", "4O", "0x41", "41,42", "中", "41\n42", "-1"})
        EXPECT_EQ(HexToBytes(bad), std::nullopt) << bad;
    EXPECT_EQ(BytesToHex(Bytes{0x4F, 0x0D, 0xFF}), "4F0DFF");
}

}  // namespace
}  // namespace ristova
