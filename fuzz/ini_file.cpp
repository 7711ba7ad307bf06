// INI reader and writer: on any file, a value written under plain names
// reads back, and a neighbouring key of the same section keeps its value.
#include <cctype>

#include "FuzzSupport.h"
#include "base/Codec.h"
#include "base/Errors.h"
#include "base/IniFile.h"

using namespace ristova;

namespace {

std::string PlainName(std::string_view raw, const char* fallback) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
    std::string out;
    for (char c : raw.substr(0, 16)) out += kChars[static_cast<unsigned char>(c) % (sizeof kChars - 1)];
    return out.empty() ? fallback : out;
}

// What the file can hold as it is: one line, no blanks at the ends, not cut.
bool Holdable(std::string_view value) {
    if (!fuzz::IsUtf8(value) || codec::CodePageLength(value) > kIniValueMaxBytes) return false;
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    return value.empty() || (value.front() != ' ' && value.back() != ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = fuzz::AsText(data, size);
    const std::string_view file = fuzz::NextField(rest);
    const std::string section = PlainName(fuzz::NextField(rest), "S");
    const std::string key = PlainName(fuzz::NextField(rest), "K");
    std::string value(rest);
    if (!Holdable(value)) value = PlainName(value, "");
    const std::string path = fuzz::WriteInput("ini.INI", file);

    const std::string neighbour = key + "_";
    const std::string before = ReadIniText(path, section, neighbour);
    try {
        WriteIniText(path, section, key, value);
    } catch (const OperatorError&) {
        fuzz::Fail("write refused");
    }
    fuzz::Check(ReadIniText(path, section, key) == value, "written value reads back");
    fuzz::Check(ReadIniText(path, section, neighbour) == before, "neighbour key unchanged");
    EraseIniSection(path, section);
    fuzz::Check(ReadIniTextDef(path, section, key, "\x01") == "\x01", "erased section is gone");
    return 0;
}
