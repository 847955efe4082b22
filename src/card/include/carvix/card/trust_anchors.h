// The document-signing authorities a relying party trusts, and its policy.
//
// Anchors are certificates (PEM or DER) and, optionally, revocation lists (PEM or DER) kept in
// two folders: the administrator's, /etc/carvix-qx/trust (CARVIX_TRUST_DIR names another, for
// tests), and the user's own, $XDG_CONFIG_HOME/carvix-qx/trust (else ~/.config/...). A folder
// or file that someone other than its owner could have written is not used: the system folder
// and its files must belong to root (a folder named by CARVIX_TRUST_DIR to root or to the
// user), the user's folder and files to the user or root, and none may be writable by group
// or others. Nothing is installed by default.
//
// The administrator's policy file /etc/carvix-qx/trust-policy (root-owned, same rule) holds
// lines "key = value"; "require-trusted-signer = yes" makes every read whose signer is not
// trusted fail. CARVIX_TRUST_POLICY names a further file (for tests) that can only switch the
// requirement on, never off.
#pragma once

#include "carvix/support/openssl_ptr.h"

#include <openssl/x509_vfy.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace carvix::card {

inline constexpr const char* kSystemTrustFolder = "/etc/carvix-qx/trust";
inline constexpr const char* kTrustFolderVariable = "CARVIX_TRUST_DIR";
inline constexpr const char* kSystemTrustPolicy = "/etc/carvix-qx/trust-policy";
inline constexpr const char* kTrustPolicyVariable = "CARVIX_TRUST_POLICY";

/// Which folder an anchor comes from.
enum class AnchorScope : std::uint8_t { System, User };

/// One usable file of a folder.
struct AnchorFile {
    std::filesystem::path path;
    AnchorScope scope;
    bool isCrl;            // a revocation list, else a certificate
    std::string subject;   // RFC 2253 subject (certificates) or issuer (lists)
    std::string notAfter;  // certificates: end of validity; lists: next update ("" if none)
};

/// A set of anchors and lists, parsed into a verification store. Immutable once built.
class AnchorSet {
  public:
    /// The anchors installed now. Folders are looked at on every call (a few stat calls); the
    /// set is parsed again only when a folder or file changed.
    static std::shared_ptr<const AnchorSet> Installed();
    /// The files of `folders`, in order, with the ownership rule above when `checkOwners`.
    static std::shared_ptr<const AnchorSet> FromFolders(
        const std::vector<std::pair<std::filesystem::path, AnchorScope>>& folders,
        bool checkOwners);

    bool HasCertificates() const noexcept { return certificates_ > 0; }
    bool HasCrls() const noexcept { return crls_ > 0; }
    X509_STORE* Store() const noexcept { return store_.get(); }
    /// Equal for sets built from the same files with the same contents.
    std::uint64_t Id() const noexcept { return id_; }
    const std::vector<AnchorFile>& Files() const noexcept { return files_; }
    /// Files and folders that were passed over, each with the reason.
    const std::vector<std::string>& Warnings() const noexcept { return warnings_; }

  private:
    Orvel::OpenSsl::Ptr<X509_STORE, X509_STORE_free> store_;
    std::size_t certificates_ = 0;
    std::size_t crls_ = 0;
    std::uint64_t id_ = 0;
    std::vector<AnchorFile> files_;
    std::vector<std::string> warnings_;
};

/// Calls `certificate` and `crl` for each object of a PEM text (any number of certificates
/// and lists), else for the one DER certificate or list `bytes` hold; returns how many.
std::size_t ForEachTrustObject(std::string_view bytes,
                               const std::function<void(X509*)>& certificate,
                               const std::function<void(X509_CRL*)>& crl);

/// The administrator's folder (CARVIX_TRUST_DIR when set) and the user's folder.
std::filesystem::path SystemTrustFolder();
std::filesystem::path UserTrustFolder();

/// Whether the administrator requires trusted signers (see above).
bool TrustedSignerRequired();

/// Why a file or folder with this status may not be used, or "" when it may: owned by root
/// or by `owner`, and not writable by group or others.
std::string UnsafeTrustPath(const std::filesystem::path& path, bool directory, unsigned owner);

}  // namespace carvix::card
