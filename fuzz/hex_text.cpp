// Hex text: any bytes written as hex read back; any text reads as half as
// many bytes as its code page form has.
#include "FuzzSupport.h"
#include "base/Codec.h"
#include "base/TextUtils.h"

using namespace ristova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::string hex = BytesToHex(bytes);
    fuzz::Check(hex.size() == 2 * size, "two digits a byte");
    fuzz::Check(HexToBytes(hex) == bytes, "hex round trip");
    fuzz::Check(HexToBytes(AsciiLower(hex)) == bytes, "lower-case hex reads the same");
    const std::string_view text = fuzz::AsText(data, size);
    fuzz::Check(HexToBytes(text).size() == codec::ToCodePage(text).size() / 2, "any text reads");
    return 0;
}
