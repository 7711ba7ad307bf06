#pragma once
// Texts live in memory as UTF-8; files, plug-ins and the hex tool speak code
// page 936. This is the only place where the two meet (GB18030, a superset
// of GBK, so nothing the operator types is lost). ToCodePage and FromCodePage
// are the platform's converter (posix/Codec.cpp: iconv); the rest is shared.
#include <cstddef>
#include <string>
#include <string_view>

namespace ristova::codec {

// UTF-8 to GB18030 bytes. Invalid UTF-8 sequences become '?'.
std::string ToCodePage(std::string_view utf8);

// GB18030/GBK bytes to UTF-8. Bytes that do not decode become U+FFFD and the
// rest of the text goes on; never throws.
std::string FromCodePage(std::string_view bytes);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// A data file's bytes as code page 936. A file that starts with the UTF-8
// byte-order mark, or that is valid UTF-8 and holds non-ASCII text (one
// edited in a Linux text editor), is taken as UTF-8; any other as it is.
std::string DataFileToCodePage(std::string_view bytes);
// Only bytes below 0x80: the same in the code page and in UTF-8.
bool IsAscii(std::string_view bytes);
// True when DataFileToCodePage takes these bytes as UTF-8.
bool ReadsAsUtf8(std::string_view bytes);

// Number of code page bytes the UTF-8 text takes.
std::size_t CodePageLength(std::string_view utf8);

// The longest prefix of the UTF-8 text whose code page form fits in maxBytes,
// cut on a character boundary.
std::string CutToCodePageBytes(std::string_view utf8, std::size_t maxBytes);

// Length of the code page character that starts at bytes[i] (1, 2 or 4;
// never past the end). Bytes that start no character count as one.
std::size_t CodePageCharLength(std::string_view bytes, std::size_t i);

// The longest prefix of code page bytes that fits in maxBytes, cut on a
// character boundary.
std::string_view CutCodePageBytes(std::string_view bytes, std::size_t maxBytes);

}  // namespace ristova::codec
