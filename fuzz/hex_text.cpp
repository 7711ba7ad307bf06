// Hex text: any bytes written as hex read back; any other text is refused
// exactly when it holds something besides hex digits and blanks, and
// otherwise reads as half as many bytes as it has digits.
#include <cctype>

#include "FuzzSupport.h"
#include "base/TextUtils.h"

using namespace ristova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::string hex = BytesToHex(bytes);
    fuzz::Check(hex.size() == 2 * size, "two digits a byte");
    fuzz::Check(HexToBytes(hex) == std::optional(bytes), "hex round trip");
    fuzz::Check(HexToBytes(AsciiLower(hex)) == std::optional(bytes), "lower-case hex reads the same");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t digits = 0;
    bool valid = true;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            ++digits;
        else if (c != ' ' && c != '\t')
            valid = false;
    }
    const auto read = HexToBytes(text);
    fuzz::Check(read.has_value() == valid, "refused exactly when not hex");
    fuzz::Check(!read || read->size() == digits / 2, "half as many bytes as digits");
    return 0;
}
