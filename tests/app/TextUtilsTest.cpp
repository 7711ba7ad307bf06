#include "app/TextUtils.h"

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

TEST(TextUtils, PaddingAndTrimming) {
    EXPECT_EQ(PadLeft("1", ' ', 3), "  1");
    EXPECT_EQ(PadLeft("1234", ' ', 3), "1234");
    EXPECT_EQ(PadLeft("12", ' ', -1), "");
    EXPECT_EQ(PadRight("ab", '.', 4), "ab..");
    EXPECT_EQ(PadRight("ab", '.', -2), "");
    EXPECT_EQ(Trim(" \t 接通 \r\n"), "接通");
    EXPECT_EQ(Trim("   "), "");
}

TEST(TextUtils, TimeTextsDoNotWrapAtMidnight) {
    EXPECT_EQ(SecondsToTimeText(59), "00:00:59");
    EXPECT_EQ(SecondsToTimeText(86399), "23:59:59");
    EXPECT_EQ(SecondsToTimeText(86400), "24:00:00");
    EXPECT_EQ(SecondsToTimeText(90000), "25:00:00");
    EXPECT_EQ(SecondsToTimeText(362439), "100:40:39");
}

TEST(TextUtils, TimeTextFieldsAreTrimmedAndNonNumbersCountNothing) {
    EXPECT_EQ(TimeTextToSeconds("8:5", ":"), 29100);
    EXPECT_EQ(TimeTextToSeconds("  7 : 05 :", ":"), 25500);
    EXPECT_EQ(TimeTextToSeconds("ab:10:10", ":"), 610);
    EXPECT_EQ(TimeTextToSeconds("01:02:03:04", ":"), 3723);
    EXPECT_EQ(TimeTextToSeconds("99:99:99", ":"), 362439);
    EXPECT_EQ(TimeTextToSeconds("", ":"), 0);
    EXPECT_EQ(TimeTextToSeconds("1h2m3h4", "h"), 3600 + 4);
}

TEST(TextUtils, ClockAndDateTexts) {
    LocalDateTime t{Date{2012, 3, 8}, 7, 5, 9, 999};
    EXPECT_EQ(TimeToSeconds(t), 7 * 3600 + 5 * 60 + 9);
    EXPECT_EQ(TimeOfDayText(t), "07:05:09");
    EXPECT_EQ(DateText(true, t.date), "2012-03-08");
    EXPECT_EQ(DateText(false, t.date), "20120308");
}

TEST(TextUtils, YesAndTrueInAnyCaseAreTrue) {
    EXPECT_TRUE(YesTextToBool("YES"));
    EXPECT_TRUE(YesTextToBool("yEs"));
    EXPECT_TRUE(YesTextToBool("True"));
    EXPECT_FALSE(YesTextToBool("Y"));
    EXPECT_FALSE(YesTextToBool(" YES"));
    EXPECT_FALSE(YesTextToBool(""));
    EXPECT_FALSE(YesTextToBool("1"));
    EXPECT_EQ(BoolToYesText(true), "YES");
    EXPECT_EQ(BoolToYesText(false), "NO");
}

TEST(TextUtils, IntegersAreStrictAndThirtyTwoBit) {
    long long v = 0;
    EXPECT_TRUE(TryStrToInt("9600", v));
    EXPECT_EQ(v, 9600);
    EXPECT_TRUE(TryStrToInt(" -7 ", v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(TryStrToInt("+3", v));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(TryStrToInt("$1f", v));
    EXPECT_EQ(v, 31);
    EXPECT_TRUE(TryStrToInt("0x10", v));
    EXPECT_EQ(v, 16);
    EXPECT_TRUE(TryStrToInt("$FFFFFFFF", v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(TryStrToInt("-2147483648", v));
    EXPECT_EQ(v, -2147483648LL);
    for (const char* bad : {"", " ", "+", "-", "$", "0x", "1 2", "12a", "1.5", "2147483648",
                            "$100000000", "99999999999999999999999"}) {
        EXPECT_FALSE(TryStrToInt(bad, v)) << '"' << bad << '"';
    }
    EXPECT_EQ(StrToIntDef("x", 5), 5);
    EXPECT_EQ(StrToIntDef("03", 5), 3);
}

TEST(TextUtils, HexTextFollowsTheDigitRuleForEveryCharacter) {
    EXPECT_EQ(HexToBytes("4f0D"), (Bytes{0x4F, 0x0D}));
    EXPECT_EQ(HexToBytes("0G"), (Bytes{0x10}));
    // The blank counts 32 - 55, and the byte keeps its low 8 bits.
    EXPECT_EQ(HexToBytes("41 42"), (Bytes{0x41, 0x94}));
    EXPECT_EQ(HexToBytes("ABC"), (Bytes{0xAB}));
    EXPECT_TRUE(HexToBytes("").empty());
    EXPECT_TRUE(HexToBytes("7").empty());
    // The rule applies to the code page bytes (D6 D0), not to UTF-8's three.
    EXPECT_EQ(HexToBytes("中"),
              (Bytes{static_cast<std::uint8_t>(((0xD6 - 55) * 16 + 0xD0 - 55) & 0xFF)}));
}

TEST(TextUtils, BytesToHexIsUpperCaseAndRoundTrips) {
    EXPECT_EQ(BytesToHex(Bytes{0x4F, 0x0D}), "4F0D");
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    std::string hex = BytesToHex(all);
    EXPECT_EQ(hex.substr(hex.size() - 4), "FEFF");
    EXPECT_EQ(HexToBytes(hex), all);
    EXPECT_EQ(HexToBytes(AsciiLower(hex)), all);
}

TEST(TextUtils, AsciiCaseLeavesOtherBytesAlone) {
    EXPECT_EQ(AsciiUpper("2012-03-19.tab 接通"), "2012-03-19.TAB 接通");
    EXPECT_EQ(AsciiLower("ABC.TAB"), "abc.tab");
    EXPECT_TRUE(AsciiIEquals("星期日.TAB", "星期日.tab"));
    EXPECT_FALSE(AsciiIEquals("星期日.tab", "星期一.tab"));
    EXPECT_FALSE(AsciiIEquals("a.tab", "a.tab "));
}

}  // namespace
}  // namespace ristova
