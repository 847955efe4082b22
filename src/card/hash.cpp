#include "carvix/card/hash.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/openssl_ptr.h"
#include "carvix/support/text.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

namespace {

// NTE_PROVIDER_DLL_FAIL and NTE_FAIL: the codes the crypto provider reports when it cannot
// be loaded or a hash operation fails.
constexpr std::uint32_t kProviderUnavailable = 0x8009001Du;
constexpr std::uint32_t kHashFailure = 0x80090020u;

}  // namespace

int OsMajorVersion() noexcept {
    return 6;
}

const std::u16string& HashProviderName() {
    static const std::u16string name =
        OsMajorVersion() >= 6
            ? u"Microsoft Enhanced RSA and AES Cryptographic Provider"
            : u"Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)";
    return name;
}

HashProvider::HashProvider()
    : HashProvider([] { return EVP_MD_fetch(nullptr, "SHA256", nullptr); }) {}

HashProvider::HashProvider(Acquirer acquire) : acquire_(std::move(acquire)) {}

HashProvider::~HashProvider() {
    EVP_MD_free(digest_);
}

const EVP_MD* HashProvider::Get() {
    if (Acquired()) {
        return digest_;
    }
    std::lock_guard lock(acquiring_);
    if (Acquired()) {
        return digest_;
    }
    EVP_MD* digest = acquire_ ? acquire_() : nullptr;
    if (digest == nullptr) {
        ERR_clear_error();
        throw CardException(Orvel::Format(
            "Cannot initialize RSA AES Cryptographic Service Provider, error code: 0x%X",
            kProviderUnavailable));
    }
    digest_ = digest;
    acquired_.store(true, std::memory_order_release);
    return digest_;
}

HashProvider& GetHashProvider() {
    static HashProvider provider;
    return provider;
}

Orvel::ByteArray ComputeSha256(std::span<const std::uint8_t> bytes, HashProvider* provider) {
    const EVP_MD* digest = (provider != nullptr ? *provider : GetHashProvider()).Get();
    auto context = Orvel::OpenSsl::Own<EVP_MD_CTX_free>(EVP_MD_CTX_new());
    if (context == nullptr || EVP_DigestInit_ex(context.get(), digest, nullptr) != 1) {
        ERR_clear_error();
        throw CardException(
            Orvel::Format("Cannot initialize SHA256 functionality, error code: %X", kHashFailure));
    }
    if (EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1) {
        ERR_clear_error();
        throw CardException(
            Orvel::Format("Cannot add new data with size %d to hash, error code: %X",
                          static_cast<int>(bytes.size()), kHashFailure));
    }
    int size = EVP_MD_get_size(digest);
    if (size <= 0) {
        throw CardException(
            Orvel::Format("Cannot calculate hash size, error code: %X", kHashFailure));
    }
    Orvel::ByteArray result(static_cast<std::size_t>(size));
    unsigned int written = 0;
    if (EVP_DigestFinal_ex(context.get(), result.data(), &written) != 1 ||
        written != result.size()) {
        ERR_clear_error();
        throw CardException(Orvel::Format("Cannot obtain hash, error code: %X", kHashFailure));
    }
    return result;
}
