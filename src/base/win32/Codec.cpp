// The codec on Windows: MultiByteToWideChar and WideCharToMultiByte with
// code page 54936 (GB18030, the superset of code page 936), so that a GBK
// file reads the same and nothing the operator types is lost. A system
// without 54936 (Wine 8) gets code page 936 itself: a character outside GBK
// is then written as '?'.
#include "base/Codec.h"

#include <windows.h>

#include <cstdint>

namespace ristova::codec {

namespace {

UINT CodePage() {
    static const UINT codePage = ::IsValidCodePage(54936) ? 54936 : 936;
    return codePage;
}
constexpr wchar_t kReplacement = 0xFFFD;

bool IsTrail(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// One character of UTF-8 at text[i], appended as UTF-16. False when it is
// no valid character; length then covers its lead byte and the trail bytes
// after it.
bool DecodeUtf8(std::string_view text, std::size_t i, std::size_t& length, std::wstring& out) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (i + n > text.size() || !IsValidUtf8(text.substr(i, n))) {
        length = 1;
        while (i + length < text.size() && IsTrail(text[i + length])) ++length;
        return false;
    }
    length = n;
    std::uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t k = 1; k < n; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (cp >> 10));
        out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<wchar_t>(cp);
    }
    return true;
}

std::string FromWide(std::wstring_view wide, UINT codePage) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string bytes(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), size, bytes.data(), n, nullptr, nullptr);
    return bytes;
}

// The bytes as UTF-16 when every one of them decodes.
bool ToWideStrict(std::string_view bytes, std::wstring& out) {
    const int size = static_cast<int>(bytes.size());
    const int n =
        ::MultiByteToWideChar(CodePage(), MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (n <= 0) return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n));
    return ::MultiByteToWideChar(CodePage(), MB_ERR_INVALID_CHARS, bytes.data(), size,
                                 out.data() + at, n) == n;
}

}  // namespace

std::string ToCodePage(std::string_view utf8) {
    // Invalid UTF-8 becomes '?', one for each broken character, as the
    // character set converter of the other platforms does.
    std::wstring wide;
    wide.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t length = 1;
        if (!DecodeUtf8(utf8, i, length, wide)) wide += L'?';
        i += length;
    }
    return FromWide(wide, CodePage());
}

std::string FromCodePage(std::string_view bytes) {
    if (bytes.empty()) return {};
    std::wstring wide;
    if (!ToWideStrict(bytes, wide)) {
        // Character by character: a byte that starts no character becomes
        // U+FFFD and the next byte is tried afresh.
        wide.clear();
        for (std::size_t i = 0; i < bytes.size();) {
            const std::size_t length = CodePageCharLength(bytes, i);
            if (ToWideStrict(bytes.substr(i, length), wide)) {
                i += length;
            } else {
                wide += kReplacement;
                ++i;
            }
        }
    }
    return FromWide(wide, CP_UTF8);
}

}  // namespace ristova::codec
