#pragma once
// The system's cryptography for the API's tokens and sessions: OpenSSL on
// POSIX (posix/Crypto.cpp), CNG on Windows (win32/Crypto.cpp).
#include <cstddef>
#include <string>
#include <string_view>

namespace ristova::api {

// Unpredictable bytes; false when the system has none to give.
bool RandomBytes(unsigned char* out, std::size_t size);
// HMAC-SHA-256 of data under key, in hex (upper case); empty on failure.
std::string HmacSha256Hex(std::string_view key, std::string_view data);

}  // namespace ristova::api
