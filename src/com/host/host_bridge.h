// The module's side of the host hooks: the certificate question of the support library goes
// to the chooser that the host installed in the automation runtime (host_hooks.h).
#pragma once

#include "carvix/support/certificate_chooser.h"

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

}  // namespace carvix::com
