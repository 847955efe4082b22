#include "verification_cache.h"

#include <algorithm>

namespace carvix::card {

VerificationCache& VerificationCache::Instance() {
    static VerificationCache cache;
    return cache;
}

std::optional<VerificationCache::Outcome> VerificationCache::Find(
    std::span<const std::uint8_t> message) {
    std::lock_guard lock(lock_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->message.size() != message.size() ||
            !std::equal(message.begin(), message.end(), it->message.begin())) {
            continue;
        }
        entries_.splice(entries_.begin(), entries_, it);
        X509_up_ref(it->signer.get());
        return Outcome{it->content, Orvel::OpenSsl::Own<X509_free>(it->signer.get())};
    }
    return std::nullopt;
}

void VerificationCache::Remember(std::span<const std::uint8_t> message,
                                 const Orvel::ByteArray& content, X509* signer) {
    if (message.size() > kLargestMessage || signer == nullptr) {
        return;
    }
    Entry entry{Orvel::ByteArray(message.begin(), message.end()), content, nullptr, std::nullopt};
    X509_up_ref(signer);
    entry.signer.reset(signer);

    std::lock_guard lock(lock_);
    // Two threads may verify the same new message at once; the later one replaces nothing.
    for (const auto& held : entries_) {
        if (held.message == entry.message) {
            return;
        }
    }
    entries_.push_front(std::move(entry));
    if (entries_.size() > kCapacity) {
        entries_.pop_back();
    }
}

std::optional<SignerTrust> VerificationCache::FindTrust(std::span<const std::uint8_t> message,
                                                        std::uint64_t anchorSet, std::int64_t now) {
    std::lock_guard lock(lock_);
    for (const auto& entry : entries_) {
        if (entry.message.size() != message.size() ||
            !std::equal(message.begin(), message.end(), entry.message.begin())) {
            continue;
        }
        if (!entry.trust || entry.trust->anchorSet != anchorSet ||
            (entry.trust->validUntil != 0 && now > entry.trust->validUntil)) {
            return std::nullopt;
        }
        return entry.trust->trust;
    }
    return std::nullopt;
}

void VerificationCache::RememberTrust(std::span<const std::uint8_t> message,
                                      const TrustMemo& memo) {
    std::lock_guard lock(lock_);
    for (auto& entry : entries_) {
        if (entry.message.size() == message.size() &&
            std::equal(message.begin(), message.end(), entry.message.begin())) {
            entry.trust = memo;
            return;
        }
    }
}

void VerificationCache::Clear() {
    std::lock_guard lock(lock_);
    entries_.clear();
}

std::size_t VerificationCache::Size() const {
    std::lock_guard lock(lock_);
    return entries_.size();
}

}  // namespace carvix::card
