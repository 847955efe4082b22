// The private key file of `certs add --key`, kept inside the user's store so that moving or
// deleting the original later does not break signing.
#pragma once

#include <filesystem>
#include <string>

namespace carvix::cli {

/// Copies `keyFile` to `folder`/keys/`thumbprint`.pem, readable by the user alone (0600, its
/// folder 0700), replacing an older copy only once the new one is complete. Returns the
/// copy's path; throws FileError when the key cannot be read or the copy cannot be written.
std::filesystem::path CopyKeyIntoStore(const std::string& keyFile,
                                       const std::filesystem::path& folder,
                                       const std::string& thumbprint);

/// Whether a certificate's key link names a key file that is not there (a pkcs11: link is
/// a token's key and is not checked here).
bool KeyLinkIsBroken(const std::string& link);

}  // namespace carvix::cli
