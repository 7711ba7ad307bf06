#include "api/Crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include "base/TextUtils.h"

namespace ristova::api {

bool RandomBytes(unsigned char* out, std::size_t size) {
    return RAND_bytes(out, static_cast<int>(size)) == 1;
}

std::string HmacSha256Hex(std::string_view key, std::string_view data) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &length))
        return {};
    return BytesToHex(mac, length);
}

}  // namespace ristova::api
