#include "base/TextUtils.h"

#include <cstdio>
#include <limits>

#include "base/Codec.h"

namespace ristova {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

char UpperChar(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char LowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A hex digit's value, -1 for any other character.
int HexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseInt32(std::string_view text, bool allowHex, long long& value) {
    std::string t = Trim(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    int base = 10;
    if (allowHex && i < t.size() && t[i] == '$') {
        base = 16;
        ++i;
    } else if (allowHex && i + 1 < t.size() && t[i] == '0' &&
               (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= t.size()) return false;
    long long magnitude = 0;
    // Hexadecimal may fill all 32 bits and wraps to a negative value, as the
    // framework's conversion does; decimal must fit the signed range.
    const long long limit = base == 16 ? 0xFFFFFFFFLL : 0x80000000LL;
    for (; i < t.size(); ++i) {
        int d = base == 16 ? HexDigitValue(t[i]) : (t[i] >= '0' && t[i] <= '9' ? t[i] - '0' : -1);
        if (d < 0) return false;
        magnitude = magnitude * base + d;
        if (magnitude > limit) return false;
    }
    if (base == 16) {
        long long wrapped = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
        value = negative ? -wrapped : wrapped;
        return value >= std::numeric_limits<std::int32_t>::min() &&
               value <= std::numeric_limits<std::int32_t>::max();
    }
    if (!negative && magnitude > std::numeric_limits<std::int32_t>::max()) return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace

std::string GetDelimitedField(std::string_view text, std::string_view delim, int index) {
    if (index < 1) return {};
    if (delim.empty()) return index == 1 ? std::string(text) : std::string();
    std::size_t start = 0;
    for (int field = 1; field < index; ++field) {
        std::size_t pos = text.find(delim, start);
        if (pos == std::string_view::npos) return {};
        start = pos + delim.size();
    }
    std::size_t end = text.find(delim, start);
    if (end == std::string_view::npos) end = text.size();
    return std::string(text.substr(start, end - start));
}

int CountDelimitedFields(std::string_view text, std::string_view delim) {
    if (delim.empty()) return 1;
    int count = 1;
    for (std::size_t pos = text.find(delim); pos != std::string_view::npos;
         pos = text.find(delim, pos + delim.size())) {
        ++count;
    }
    return count;
}

void SplitText(std::string_view text, std::string_view delim, std::vector<std::string>& list) {
    list.clear();
    if (delim.empty()) {
        if (!text.empty()) list.emplace_back(text);
        return;
    }
    std::size_t start = 0;
    for (std::size_t pos = text.find(delim); pos != std::string_view::npos;
         pos = text.find(delim, start)) {
        list.emplace_back(text.substr(start, pos - start));
        start = pos + delim.size();
    }
    if (start < text.size()) list.emplace_back(text.substr(start));
}

std::string JoinText(const std::vector<std::string>& list, std::string_view delim) {
    std::string out;
    for (const auto& item : list) {
        out += item;
        out += delim;
    }
    return out;
}

std::string PadLeft(std::string_view text, char ch, int width) {
    if (width < 0) return {};
    std::string out;
    if (static_cast<int>(text.size()) < width) out.assign(width - text.size(), ch);
    out += text;
    return out;
}

std::string PadRight(std::string_view text, char ch, int width) {
    if (width < 0) return {};
    std::string out(text);
    if (static_cast<int>(out.size()) < width) out.append(width - out.size(), ch);
    return out;
}

std::string Trim(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

std::string SecondsToTimeText(long long seconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%2.2lld:%2.2lld:%2.2lld", seconds / 3600, (seconds / 60) % 60,
                  seconds % 60);
    return buf;
}

long long TimeTextToSeconds(std::string_view text, std::string_view delim) {
    static constexpr long long kWeights[] = {3600, 60, 1};
    long long total = 0;
    for (int i = 0; i < 3; ++i) {
        long long value = 0;
        if (ParseInt32(GetDelimitedField(text, delim, i + 1), false, value))
            total += value * kWeights[i];
    }
    return total;
}

int TimeToSeconds(const LocalDateTime& t) {
    return t.hour * 3600 + t.minute * 60 + t.second;
}

std::string TimeOfDayText(const LocalDateTime& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%2.2d:%2.2d:%2.2d", t.hour, t.minute, t.second);
    return buf;
}

std::string CurrentTimeText(IClock& clock) {
    return TimeOfDayText(clock.Now());
}

std::string DateText(bool dashed, const Date& date) {
    char buf[48];
    std::snprintf(buf, sizeof buf, dashed ? "%4.4d-%2.2d-%2.2d" : "%4.4d%2.2d%2.2d", date.year,
                  date.month, date.day);
    return buf;
}

bool YesTextToBool(std::string_view text) {
    std::string upper = AsciiUpper(text);
    return upper == "YES" || upper == "TRUE";
}

std::string BoolToYesText(bool flag) {
    return flag ? "YES" : "NO";
}

bool TryStrToInt(std::string_view text, long long& value) {
    return ParseInt32(text, true, value);
}

long long StrToIntDef(std::string_view text, long long def) {
    long long value = 0;
    return TryStrToInt(text, value) ? value : def;
}

std::optional<std::vector<std::uint8_t>> HexToBytes(std::string_view text) {
    std::vector<int> digits;
    digits.reserve(text.size());
    for (const char ch : text) {
        if (ch == ' ' || ch == '\t') continue;
        const int value = HexDigitValue(static_cast<unsigned char>(ch));
        if (value < 0) return std::nullopt;
        digits.push_back(value);
    }
    // An odd last digit is dropped.
    std::vector<std::uint8_t> out(digits.size() / 2);
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = static_cast<std::uint8_t>(digits[2 * k] * 16 + digits[2 * k + 1]);
    return out;
}

std::string BytesToHex(const std::uint8_t* data, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(count * 2);
    for (std::size_t k = 0; k < count; ++k) {
        out += kDigits[data[k] >> 4];
        out += kDigits[data[k] & 0x0F];
    }
    return out;
}

std::string BytesToHex(const std::vector<std::uint8_t>& bytes) {
    return BytesToHex(bytes.data(), bytes.size());
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = UpperChar(c);
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerChar(c);
    return out;
}

bool AsciiIEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (UpperChar(a[k]) != UpperChar(b[k])) return false;
    }
    return true;
}

}  // namespace ristova
