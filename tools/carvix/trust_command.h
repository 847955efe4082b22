// `carvix trust`: the document-signing authorities whose signatures make a read "trusted",
// and what the client shows of a block's signer.
#pragma once

#include "client_names.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace carvix::cli {

/// What the read printed for one block's signer.
struct SignerView {
    nlohmann::ordered_json json;  // {"subject", "issuer", "serialNumber", "trust", "reason"?}
    std::string line;             // "verified, signed by CN=..., trusted"
    bool trusted = false;
};

/// Whether `read` shows the signers without being asked: when anchors are installed or the
/// administrator requires trusted signers (CARVIX.SignerTrust).
bool SignersConfigured();

/// The signer of a block object a read handed out (CARVIX.SignerTrust.SignerOf), or nothing
/// for a block that has none. Throws ClientError.
std::optional<SignerView> SignerOfBlock(const Object& block);

/// Installs the certificates and revocation lists of `file` (PEM or DER) in the user's trust
/// folder, or with `system` in the administrator's (as root). Returns the exit status.
int TrustAdd(const std::string& file, bool system);
/// Lists the installed anchors and lists: folder, thumbprint, kind, end of validity, subject;
/// files that are passed over with the reason on standard error.
int TrustList();
/// Removes the installed file with that thumbprint (as `trust list` prints it).
int TrustRemove(const std::string& thumbprint, bool system);

/// Warns on standard error when anchors are installed and the signer certificate of
/// `certFile` does not chain to one of them: a card signed with it reads as untrusted.
void WarnIfSignerUntrusted(const std::string& certFile);

}  // namespace carvix::cli
