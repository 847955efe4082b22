// Certificates and keys from files, as users have them: PEM or DER certificates, PEM keys.
#pragma once

#include "carvix/support/x509_certificate.h"

#include <filesystem>
#include <stdexcept>
#include <string>

namespace carvix::cli {

/// A file that cannot be used as asked; the message names the file and the reason.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The certificate in a PEM ("-----BEGIN CERTIFICATE-----") or DER file. Throws FileError.
Orvel::Security::Cryptography::X509::X509Certificate ReadCertificateFile(
    const std::filesystem::path& path);

/// Throws FileError unless `keyPath` holds an unprotected PEM private key that belongs to the
/// certificate (its public key is the certificate's).
void CheckKeyMatches(const Orvel::Security::Cryptography::X509::X509Certificate& certificate,
                     const std::filesystem::path& keyPath);

/// "YYYY-MM-DD", the day the certificate's validity ends (UTC); empty when unreadable.
std::string ExpiryDay(const Orvel::Security::Cryptography::X509::X509Certificate& certificate);

}  // namespace carvix::cli
