// The module's side of the host hooks: the certificate question and the token PIN prompt of
// the support library go to the hooks that the host installed in the automation runtime
// (host_hooks.h).
#pragma once

#include "carvix/support/certificate_chooser.h"
#include "carvix/support/pkcs11_token.h"

#include <cstddef>
#include <optional>

namespace carvix::com {

/// Puts the question to the host's chooser: every offered certificate with its subject,
/// issuer, end of validity, thumbprint and DER bytes. The index the host picked, or none for
/// a cancel (also when no chooser is installed or a certificate cannot be described).
std::optional<std::size_t> AskHostChooser(
    const Orvel::Security::Cryptography::X509::CertificateChoice& choice);

/// Makes AskHostChooser the support library's certificate chooser for this module.
void BridgeCertificateChooser();

/// Asks the host's PIN prompt for the token's PIN, telling it the token's PIN state; false
/// for a cancel (also without a prompt) and for a locked PIN. The PIN goes through a buffer
/// that is wiped before returning.
bool AskHostPin(const Orvel::Pkcs11::PinRequest& request, Orvel::Pkcs11::SecretText& pin);
/// The same without a known PIN state.
bool AskHostPin(const std::u16string& tokenLabel, Orvel::Pkcs11::SecretText& pin);

/// Makes AskHostPin the PIN prompt of the token logins of this module, and the host's
/// PIN-pad notice the notice shown while a PIN pad is used.
void BridgePinPrompt();

/// Makes the host's card wait limit (CarvixSetCardWaitLimit) the one this module's card
/// connections wait by.
void BridgeCardWaitLimit();

}  // namespace carvix::com
