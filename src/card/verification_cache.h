// A process-wide, bounded memory of signed-message verifications that passed.
#pragma once

#include "carvix/card/signer_trust.h"
#include "carvix/support/byte_array.h"
#include "carvix/support/openssl_ptr.h"

#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <span>

namespace carvix::card {

// A message whose certificates come from the message itself is verified by a function of its
// bytes alone: the signer is the carried certificate the first signer info names, the
// signature and the content digest are checked against it, and no clock, chain, revocation
// list or store is consulted. The same bytes therefore always give the same outcome, and
// answering from memory can never change a result. Only passed verifications are kept, and
// each entry is found by comparing the whole message, never a digest of it.
class VerificationCache {
  public:
    struct Outcome {
        Orvel::ByteArray content;
        // The signer's parsed certificate, shared (reference counted, read only).
        Orvel::OpenSsl::Ptr<X509, X509_free> signer;
    };

    static constexpr std::size_t kCapacity = 32;
    // Larger messages are verified every time rather than held in memory.
    static constexpr std::size_t kLargestMessage = 16 * 1024;

    static VerificationCache& Instance();

    // The remembered outcome for exactly these bytes; the signer gets a reference of its own.
    std::optional<Outcome> Find(std::span<const std::uint8_t> message);
    void Remember(std::span<const std::uint8_t> message, const Orvel::ByteArray& content,
                  X509* signer);
    void Clear();
    std::size_t Size() const;

    // The trust of the signer, remembered beside the verification of the same bytes: the
    // chain check is a function of the message and the anchor set (`anchorSet`, AnchorSet::Id),
    // and of the time when the message carries no signing time (`validUntil`, then a short
    // while after the check; 0 for a check made at the signing time, which never changes).
    // Nothing is remembered for a message the cache does not hold.
    struct TrustMemo {
        std::uint64_t anchorSet = 0;
        std::int64_t validUntil = 0;
        SignerTrust trust;
    };
    std::optional<SignerTrust> FindTrust(std::span<const std::uint8_t> message,
                                         std::uint64_t anchorSet, std::int64_t now);
    void RememberTrust(std::span<const std::uint8_t> message, const TrustMemo& memo);

  private:
    struct Entry {
        Orvel::ByteArray message;
        Orvel::ByteArray content;
        Orvel::OpenSsl::Ptr<X509, X509_free> signer;
        std::optional<TrustMemo> trust;
    };

    mutable std::mutex lock_;
    std::list<Entry> entries_;  // most recently used first
};

}  // namespace carvix::card
