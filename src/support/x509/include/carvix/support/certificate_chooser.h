// The certificate-selection hook. The host program installs a chooser (a dialog, a
// terminal prompt); without one, every selection ends as if the user had cancelled.
#pragma once

#include "carvix/support/x509_certificate.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Orvel::Security::Cryptography::X509 {

/// Hidden-column bits of the selection list.
inline constexpr std::uint32_t kHideSubject = 0x1;
inline constexpr std::uint32_t kHideIssuer = 0x2;
inline constexpr std::uint32_t kHideIntendedUse = 0x4;
inline constexpr std::uint32_t kHideFriendlyName = 0x8;
inline constexpr std::uint32_t kHideLocation = 0x10;
inline constexpr std::uint32_t kHideExpiration = 0x20;

/// What a chooser is asked: the certificates on offer, which are preselected, the texts,
/// and a way to show one certificate (the store's `Display` hook; when it returns false the
/// chooser shows the certificate itself).
struct CertificateChoice {
    void* ownerWindow = nullptr;
    std::u16string title;
    std::u16string displayText;
    std::uint32_t hiddenColumns = 0;
    std::vector<X509Certificate> offered;
    std::vector<bool> initiallySelected;
    std::function<bool(const X509Certificate&)> display;
};

/// Returns the index of the chosen certificate in `offered`, or none for a cancel.
using CertificateChooser = std::function<std::optional<std::size_t>(const CertificateChoice&)>;

/// Installs the chooser (an empty function removes it). Returns the previous one.
CertificateChooser SetCertificateChooser(CertificateChooser chooser);
const CertificateChooser& GetCertificateChooser() noexcept;

}  // namespace Orvel::Security::Cryptography::X509
