// The folder behind one system store: DER files named by thumbprint, and key-link sidecars.
#pragma once

#include "carvix/support/x509_certificate.h"

#include <filesystem>
#include <string>
#include <vector>

namespace Orvel::Security::Cryptography::X509::detail {

struct StoreHandle {
    std::filesystem::path folder;
    bool readOnly = false;
};

/// The base folder of a store location: the current user's under the XDG data folder, the
/// local machine's under /var/lib/carvix. An unknown location gives an empty path.
std::filesystem::path LocationFolder(std::uint32_t location);

/// Whether a name is one of the standard stores, which can be opened before their folder exists.
bool IsWellKnownStoreName(const std::u16string& name);

/// Every readable certificate of the folder, by thumbprint order, with its key link.
std::vector<X509Certificate> ReadCertificates(const std::filesystem::path& folder);

/// Writes `bytes` to `path` through a temporary file and a rename; false on failure.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes);

inline constexpr const char* kCertificateSuffix = ".der";
inline constexpr const char* kKeyLinkSuffix = ".key";

}  // namespace Orvel::Security::Cryptography::X509::detail
