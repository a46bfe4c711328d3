// The digest comes from nettle, the GnuTLS project's well-kept hash library.
#include "data/sha256.h"

#include <nettle/sha2.h>

namespace velmar {

std::string Sha256Hex(const uint8_t* data, size_t size) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, size, data);
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&ctx, SHA256_DIGEST_SIZE, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * SHA256_DIGEST_SIZE);
    for (const uint8_t b : digest) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 0x0F]);
    }
    return hex;
}

} // namespace velmar
