// SHA-256 of card blocks through the process-wide hash provider.
#pragma once

#include "carvix/support/byte_array.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

typedef struct evp_md_st EVP_MD;

/// The operating system's major version as the algorithm choices see it. This platform
/// counts as 6 or above: SODs are hashed and signed with SHA-256.
int OsMajorVersion() noexcept;

/// The provider name that the major version selects (kept for diagnostics; OpenSSL's
/// default provider does the work).
const std::u16string& HashProviderName();

/// A lazily acquired SHA-256 implementation. A failed acquisition raises `CardException`
/// "Cannot initialize RSA AES Cryptographic Service Provider, error code: 0x%X" and leaves
/// the provider unacquired, so the next call tries again.
class HashProvider {
  public:
    using Acquirer = std::function<EVP_MD*()>;
    /// The default acquirer fetches SHA-256 from OpenSSL's default library context.
    HashProvider();
    explicit HashProvider(Acquirer acquire);
    ~HashProvider();
    HashProvider(const HashProvider&) = delete;
    HashProvider& operator=(const HashProvider&) = delete;

    const EVP_MD* Get();
    bool Acquired() const noexcept { return acquired_.load(std::memory_order_acquire); }

  private:
    Acquirer acquire_;
    std::mutex acquiring_;  // two first uses at once acquire once
    EVP_MD* digest_ = nullptr;
    std::atomic<bool> acquired_{false};
};

/// The process-wide provider, released at exit.
HashProvider& GetHashProvider();

/// The 32-byte SHA-256 digest of the bytes, through `provider` (the process-wide one when null).
Orvel::ByteArray ComputeSha256(std::span<const std::uint8_t> bytes,
                               HashProvider* provider = nullptr);
