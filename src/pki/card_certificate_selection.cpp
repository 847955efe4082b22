#include "carvix/pki/card_certificate_selection.h"

#include "carvix/pki/key_container.h"
#include "carvix/support/x509_store.h"

#include <string>
#include <vector>

namespace carvix::pki {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;

constexpr std::uint32_t kStoreFailure = 0x80090020u;  // NTE_FAIL

// Removes the temporary store when the selection ends, however it ends.
class TemporaryStore {
  public:
    TemporaryStore() {
        x509::X509Store::Create(x509::kStoreCurrentUser, std::u16string(kSelectionStore));
    }
    ~TemporaryStore() {
        try {
            x509::X509Store::Delete(x509::kStoreCurrentUser, std::u16string(kSelectionStore));
        } catch (...) {
        }
    }
    TemporaryStore(const TemporaryStore&) = delete;
    TemporaryStore& operator=(const TemporaryStore&) = delete;
};

std::optional<x509::X509Certificate> AskUser(const std::vector<Orvel::ByteArray>& kept) {
    std::optional<TemporaryStore> temporary;
    try {
        temporary.emplace();
    } catch (...) {
        // A store left over from an earlier run: remove it, and fail this call.
        try {
            x509::X509Store::Delete(x509::kStoreCurrentUser, std::u16string(kSelectionStore));
        } catch (...) {
        }
        throw ProviderError(kStoreFailure);
    }
    try {
        x509::X509Store store(x509::kStoreCurrentUser, std::u16string(kSelectionStore));
        store.Open();
        for (const auto& der : kept) {
            store.Add(x509::X509Certificate(der), x509::AddDisposition::Always);
        }
        x509::X509Certificate chosen = store.SelectCertificate(nullptr, u"", u"", 0);
        store.Close();
        if (chosen.Handle() == nullptr) {
            return std::nullopt;
        }
        return chosen;
    } catch (const ProviderError&) {
        throw;
    } catch (...) {
        throw ProviderError(kStoreFailure);
    }
}

bool IsLoginFailure(CK_RV rv) {
    return rv == CKR_FUNCTION_CANCELED || rv == CKR_PIN_INCORRECT || rv == CKR_PIN_LOCKED ||
           rv == CKR_PIN_INVALID || rv == CKR_PIN_LEN_RANGE || rv == CKR_PIN_EXPIRED;
}

}  // namespace

std::optional<x509::X509Certificate> SelectCardCertificate(std::u16string_view readerName,
                                                           std::uint32_t keySpec) {
    const std::u16string address = u"\\\\.\\" + std::u16string(readerName) + u"\\";
    KeyContainer token = KeyContainer::Acquire(address, kContainerOptional);
    std::vector<Orvel::ByteArray> kept;
    std::vector<Orvel::ByteArray> ids;
    for (const std::string& name : token.ContainerNames()) {
        if (name.size() > kLongestContainerName) {
            break;
        }
        try {
            Orvel::ByteArray id;
            kept.push_back(token.CertificateOf(name, keySpec, kLargestCertificate, &id));
            ids.push_back(std::move(id));
        } catch (const Orvel::Pkcs11::Error& e) {
            // Judging a pair may need a login: a cancelled or refused PIN ends the selection
            // with its own code instead of looking like a token without certificates.
            if (IsLoginFailure(e.Value())) {
                throw;
            }
        } catch (...) {
            // A container without a key or certificate for this key usage is skipped.
        }
    }
    if (kept.empty()) {
        throw ProviderError(kNoSuchCertificate);
    }
    std::optional<x509::X509Certificate> chosen;
    if (kept.size() == 1) {
        try {
            chosen = x509::X509Certificate(kept.front());
        } catch (...) {
            throw ProviderError(kBadData);
        }
    } else {
        chosen = AskUser(kept);
    }
    // The chosen certificate comes into "My" with the link to its key, as a desktop's
    // certificate propagation does: a write can then sign with it by name.
    if (chosen) {
        for (std::size_t i = 0; i < kept.size(); ++i) {
            if (kept[i] == chosen->RawData()) {
                token.KeepInUserStore(kept[i], ids[i]);
                break;
            }
        }
    }
    return chosen;
}

}  // namespace carvix::pki
