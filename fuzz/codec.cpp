// Code page conversion: decoding gives valid UTF-8, and decode, encode,
// decode is stable; lengths and cuts agree with the conversion.
#include "FuzzSupport.h"
#include "base/Codec.h"

using namespace ristova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    const std::string text = codec::FromCodePage(bytes);
    fuzz::Check(fuzz::IsUtf8(text), "decoded text is UTF-8");
    const std::string encoded = codec::ToCodePage(text);
    fuzz::Check(codec::FromCodePage(encoded) == text, "decode, encode, decode is stable");
    fuzz::Check(codec::CodePageLength(text) == encoded.size(), "code page length");

    const std::size_t limit = size / 2;
    const std::string cut = codec::CutToCodePageBytes(text, limit);
    fuzz::Check(text.compare(0, cut.size(), cut) == 0 && codec::ToCodePage(cut).size() <= limit,
                "text cut is a prefix that fits");
    const std::string_view bytesCut = codec::CutCodePageBytes(bytes, limit);
    fuzz::Check(bytesCut.size() <= limit && bytesCut.data() == bytes.data(), "byte cut is a prefix");
    // A cut falls on a character boundary.
    std::size_t at = 0;
    while (at < bytesCut.size()) at += codec::CodePageCharLength(bytes, at);
    fuzz::Check(at == bytesCut.size(), "byte cut on a character boundary");
    return 0;
}
