#include "carvix/card/user_signing.h"
#include "carvix/support/certificate_chooser.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/trace.h"
#include "carvix/support/x509_store.h"
#include "user_store.h"

#include <optional>
#include <vector>

namespace x509 = Orvel::Security::Cryptography::X509;

namespace {

// The chooser shows subject, issuer, intended use and expiry; friendly name and location
// mean nothing for a store made for this one question.
constexpr std::uint32_t kHiddenColumns = x509::kHideFriendlyName | x509::kHideLocation;

// Removes the temporary store; false when it could not be removed.
bool RemoveTemporaryStore() noexcept {
    try {
        x509::X509Store::Delete(x509::kStoreCurrentUser, kTemporarySignerStore);
        return true;
    } catch (const Orvel::Exception& e) {
        if (Orvel::TraceEnabled()) {
            Orvel::Trace(Orvel::TraceLevel::Warning,
                         u"Cannot remove the temporary certificate store: " + e.Message());
        }
    } catch (...) {
    }
    return false;
}

// The temporary store for one question: created empty (a store of that name must not exist
// yet) and removed with everything in it when the scope ends, however it ends.
class TemporaryStore {
  public:
    TemporaryStore() {
        try {
            store_ = x509::X509Store::Create(x509::kStoreCurrentUser, kTemporarySignerStore);
        } catch (const Orvel::Exception& e) {
            // Most likely left over by a run that was interrupted while the user chose. It is
            // ours, so it goes; this call still fails so that no stale store is ever offered.
            const bool removed = RemoveTemporaryStore();
            throw CardException(
                u"Cannot create the temporary certificate store \"" +
                std::u16string(kTemporarySignerStore) + u"\": " + e.Message() +
                (removed ? u" A store of that name left over by an interrupted run has been "
                           u"removed; please try again."
                         : u""));
        }
        created_ = true;
    }
    ~TemporaryStore() {
        if (created_) {
            store_.reset();
            (void)RemoveTemporaryStore();
        }
    }
    TemporaryStore(const TemporaryStore&) = delete;
    TemporaryStore& operator=(const TemporaryStore&) = delete;

    x509::X509Store& Store() { return *store_; }

    // Removes the store now, reporting a failure (the destructor can only trace it).
    void Remove() {
        store_.reset();
        created_ = false;
        if (!RemoveTemporaryStore()) {
            throw CardException(u"Cannot remove the temporary certificate store \"" +
                                std::u16string(kTemporarySignerStore) + u"\"");
        }
    }

  private:
    std::optional<x509::X509Store> store_;
    bool created_ = false;
};

x509::X509Certificate AskUser(const std::vector<x509::X509Certificate>& candidates,
                              void* ownerWindow) {
    TemporaryStore temporary;
    x509::X509Certificate picked;
    try {
        x509::X509Store& store = temporary.Store();
        store.Open(0);
        for (const auto& candidate : candidates) {
            store.Add(candidate, x509::AddDisposition::Always);
        }
        picked = store.SelectCertificate(ownerWindow, u"", u"", kHiddenColumns);
    } catch (const CardException&) {
        throw;
    } catch (const Orvel::Exception& e) {
        throw CardException(u"Cannot offer the signing certificates: " + e.Message());
    }
    temporary.Remove();
    if (picked.IsEmpty()) {
        return picked;
    }
    // Hand back the certificate of "My" itself, with the key link it was read with.
    for (const auto& candidate : candidates) {
        if (candidate.Thumbprint() == picked.Thumbprint()) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

x509::X509Certificate ChooseSigningCertificate(void* ownerWindow) {
    std::vector<x509::X509Certificate> candidates;
    for (const auto& certificate : carvix::card::UserCertificates(u"My")) {
        if (certificate.HasPrivateKey()) {
            candidates.push_back(certificate);
        }
    }
    if (candidates.empty()) {
        throw CardException(u"There is no suitable certificate that can be used for signing");
    }
    if (candidates.size() == 1) {
        return candidates.front();
    }
    return AskUser(candidates, ownerWindow);
}
