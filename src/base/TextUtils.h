#pragma once
// Text, time, truth-value and hex-text helpers shared by every page.
// Texts are UTF-8; lengths and comparisons are on bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Clock.h"

namespace ristova {

std::string GetDelimitedField(std::string_view text, std::string_view delim, int index);
int CountDelimitedFields(std::string_view text, std::string_view delim);
void SplitText(std::string_view text, std::string_view delim, std::vector<std::string>& list);
std::string JoinText(const std::vector<std::string>& list, std::string_view delim);
std::string PadLeft(std::string_view text, char ch, int width);
std::string PadRight(std::string_view text, char ch, int width);
std::string Trim(std::string_view text);  // blanks and control characters at both ends

std::string SecondsToTimeText(long long seconds);
long long TimeTextToSeconds(std::string_view text, std::string_view delim);
int TimeToSeconds(const LocalDateTime& t);
std::string CurrentTimeText(IClock& clock);
std::string TimeOfDayText(const LocalDateTime& t);  // "%2.2d:%2.2d:%2.2d"
std::string DateText(bool dashed, const Date& date);

bool YesTextToBool(std::string_view text);
std::string BoolToYesText(bool flag);

// A 32-bit integer as the framework's conversion that raises "'%s' is not a
// valid integer value" reads it: optional sign, decimal digits or "$"/"0x"
// hexadecimal. Blanks (and control characters) around it are allowed; the
// framework refused trailing ones, but profile values arrive trimmed anyway
// and a grid cell typed with a blank behind it is still meant as a number.
// The empty text and values outside 32 bits are not integers.
bool TryStrToInt(std::string_view text, long long& value);
// Integer or the default when the text is not one.
long long StrToIntDef(std::string_view text, long long def);

// Hex text. Blanks (spaces, tabs) are ignored; any other character that is
// not a hex digit makes the text invalid (nullopt), so that a mistyped
// command never reaches the line as some other bytes. An odd last digit is
// dropped. BytesToHex writes upper-case pairs.
std::optional<std::vector<std::uint8_t>> HexToBytes(std::string_view text);
std::string BytesToHex(const std::uint8_t* data, std::size_t count);
std::string BytesToHex(const std::vector<std::uint8_t>& bytes);

// ASCII upper/lower case only; other bytes unchanged.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
bool AsciiIEquals(std::string_view a, std::string_view b);

}  // namespace ristova
