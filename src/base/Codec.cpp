#include "base/Codec.h"

#include <algorithm>
#include <cstdint>

namespace ristova::codec {

namespace {

bool IsUtf8Trail(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the UTF-8 character starting at text[i], at least 1, never past the end.
std::size_t Utf8CharLength(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    std::size_t len = 1;
    while (len < n && i + len < text.size() &&
           IsUtf8Trail(static_cast<unsigned char>(text[i + len])))
        ++len;
    return len;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= bytes.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto t = static_cast<unsigned char>(bytes[i + k]);
            if (!IsUtf8Trail(t)) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

namespace {
constexpr std::string_view kBom = "\xEF\xBB\xBF";
}  // namespace

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
}

bool ReadsAsUtf8(std::string_view bytes) {
    if (bytes.substr(0, kBom.size()) == kBom) return true;
    return !IsAscii(bytes) && IsValidUtf8(bytes);
}

std::string DataFileToCodePage(std::string_view bytes) {
    if (!ReadsAsUtf8(bytes)) return std::string(bytes);
    if (bytes.substr(0, kBom.size()) == kBom) bytes.remove_prefix(kBom.size());
    return ToCodePage(bytes);
}

std::size_t CodePageLength(std::string_view utf8) {
    return ToCodePage(utf8).size();
}

std::string CutToCodePageBytes(std::string_view utf8, std::size_t maxBytes) {
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t len = Utf8CharLength(utf8, i);
        const std::size_t cost =
            static_cast<unsigned char>(utf8[i]) < 0x80 ? 1 : CodePageLength(utf8.substr(i, len));
        if (used + cost > maxBytes) break;
        used += cost;
        i += len;
    }
    return std::string(utf8.substr(0, i));
}

std::size_t CodePageCharLength(std::string_view bytes, std::size_t i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x81 || lead == 0xFF || i + 1 >= bytes.size()) return 1;
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    if (second >= 0x30 && second <= 0x39) return i + 3 < bytes.size() ? 4 : bytes.size() - i;
    return 2;
}

std::string_view CutCodePageBytes(std::string_view bytes, std::size_t maxBytes) {
    if (bytes.size() <= maxBytes) return bytes;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t len = CodePageCharLength(bytes, i);
        if (i + len > maxBytes) break;
        i += len;
    }
    return bytes.substr(0, i);
}

}  // namespace ristova::codec
