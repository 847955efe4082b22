// `carvix certs`: the current user's "My" certificate store, which holds the certificates
// (with links to their private keys) that sign the card's security objects.
#pragma once

#include <string>

namespace carvix::cli {

/// Prints one line per certificate: thumbprint, end of validity, whether a key is linked,
/// subject. Returns the exit status.
int ListCertificates(bool json = false);

/// Stores the certificate of `certFile` (PEM or DER), linked to the PEM private key of
/// `keyFile` when one is given (refused when it does not match the certificate). Adding a
/// certificate again replaces it; without a key file its earlier key link is kept.
int AddCertificate(const std::string& certFile, const std::string& keyFile);

/// Stores the certificates of a token that have their key pair on it, each linked to its
/// private key by a `pkcs11:` URI that names the token (label, serial number) and its module,
/// so that signing with one loads that module alone. `token` is a label or a `pkcs11:` URI;
/// `module` (optional) a module file or the name p11-kit registered it under. Only this
/// command and token enrolment load PKCS#11 modules; listing "My" never does.
int AddTokenCertificates(const std::string& token, const std::string& module);

/// Removes the certificate with that SHA-1 thumbprint (40 hexadecimal digits, any case) and
/// its key link. The key file itself is the user's and stays.
int RemoveCertificate(const std::string& thumbprint);

}  // namespace carvix::cli
