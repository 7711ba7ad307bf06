#include "api/Crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include "base/TextUtils.h"

namespace ristova::api {

bool RandomBytes(unsigned char* out, std::size_t size) {
    return BCryptGenRandom(nullptr, out, static_cast<ULONG>(size),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

std::string HmacSha256Hex(std::string_view key, std::string_view data) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                    BCRYPT_ALG_HANDLE_HMAC_FLAG) < 0)
        return {};
    unsigned char mac[32];
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0,
                               reinterpret_cast<PUCHAR>(const_cast<char*>(key.data())),
                               static_cast<ULONG>(key.size()), 0) >= 0;
    ok = ok && BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                              static_cast<ULONG>(data.size()), 0) >= 0;
    ok = ok && BCryptFinishHash(hash, mac, sizeof mac, 0) >= 0;
    if (hash) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok ? BytesToHex(mac, sizeof mac) : std::string();
}

}  // namespace ristova::api
