#include "auth_rule.h"

#include "carvix/support/openssl_ptr.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

namespace carvix::vcard {

Bytes ComputeAuthResponse(std::span<const std::uint8_t> key,
                          std::span<const std::uint8_t> challenge) {
    const char* cipher = nullptr;
    switch (key.size()) {
        case 16:
            cipher = "AES-128-CBC";
            break;
        case 24:
            cipher = "AES-192-CBC";
            break;
        case 32:
            cipher = "AES-256-CBC";
            break;
        default:
            throw std::invalid_argument("an AES key has 16, 24 or 32 bytes");
    }
    auto mac = Orvel::OpenSsl::Own<EVP_MAC_free>(EVP_MAC_fetch(nullptr, "CMAC", nullptr));
    if (!mac) {
        throw std::runtime_error("CMAC is not available");
    }
    auto ctx = Orvel::OpenSsl::Own<EVP_MAC_CTX_free>(EVP_MAC_CTX_new(mac.get()));
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, const_cast<char*>(cipher), 0),
        OSSL_PARAM_construct_end(),
    };
    Bytes out(16);
    std::size_t outLen = 0;
    if (!ctx || EVP_MAC_init(ctx.get(), key.data(), key.size(), params) != 1 ||
        EVP_MAC_update(ctx.get(), challenge.data(), challenge.size()) != 1 ||
        EVP_MAC_final(ctx.get(), out.data(), &outLen, out.size()) != 1 || outLen != 16) {
        throw std::runtime_error("CMAC computation failed");
    }
    return out;
}

void RandomBytes(std::span<std::uint8_t> out) {
    if (RAND_bytes(out.data(), static_cast<int>(out.size())) != 1) {
        throw std::runtime_error("random generator failed");
    }
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace carvix::vcard
