#pragma once
// Shared by the fuzz targets: a property that fails aborts, so libFuzzer
// keeps the input as a reproducer; file parsers get their input as a file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "base/Codec.h"
#include "base/StringGrid.h"

namespace ristova::fuzz {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// A folder of this process's own, made once.
inline const std::string& WorkDir() {
    static const std::string dir = [] {
        // tmpfs when there is one: atomic writes sync, and that is slow on disk.
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/ristova-fuzz-XXXXXX"
                                                            : "/tmp/ristova-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) Fail("no temporary folder");
        return pattern;
    }();
    return dir;
}

inline std::string WriteInput(const std::string& name, std::string_view bytes) {
    const std::string path = WorkDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Well-formed UTF-8 only (no overlong forms, surrogates or values past
// U+10FFFF): the texts the program holds in memory.
inline bool IsUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        std::uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
        for (std::size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

// Splits the input into fields at 0x01 bytes; the fields a target needs
// are taken from the front, the rest stays in `rest`.
inline std::string_view NextField(std::string_view& rest) {
    const std::size_t at = rest.find('\x01');
    std::string_view field = rest.substr(0, at);
    rest.remove_prefix(at == std::string_view::npos ? rest.size() : at + 1);
    return field;
}

// The grid row format cannot hold a cell ending in "^" (it runs into the
// separator) or one holding "^^" (it splits), nor a character that code page
// 936 has not; saving refuses those.
inline bool CellHoldable(std::string_view cell) {
    return cell.find("^^") == std::string_view::npos && (cell.empty() || cell.back() != '^') &&
           codec::FromCodePage(codec::ToCodePage(cell)) == cell;
}

inline bool CellsHoldable(const StringGrid& grid) {
    for (int r = 0; r < grid.RowCount(); ++r)
        for (int c = 0; c < grid.ColCount(); ++c)
            if (!CellHoldable(grid.Cell(c, r))) return false;
    return true;
}

// A saved file whose code page bytes also form non-ASCII UTF-8 is read back
// as UTF-8, by the rule for files edited in a Linux text editor; its text
// cannot be expected back.
inline bool ReadsAsUtf8(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return codec::ReadsAsUtf8(bytes);
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace ristova::fuzz
