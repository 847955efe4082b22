// System certificate stores: folders of DER files with key-provider links (see the
// README in this folder), opened, filled, listed, created and deleted by name.
#pragma once

#include "carvix/support/x509_certificate.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace Orvel::Security::Cryptography::X509 {

inline constexpr std::uint32_t kStoreCurrentUser = 0x10000;    // CERT_SYSTEM_STORE_CURRENT_USER
inline constexpr std::uint32_t kStoreLocalMachine = 0x20000;   // CERT_SYSTEM_STORE_LOCAL_MACHINE
inline constexpr std::uint32_t kStoreReadOnly = 0x8000;        // CERT_STORE_READONLY_FLAG
inline constexpr std::uint32_t kStoreMaximumAllowed = 0x1000;  // CERT_STORE_MAXIMUM_ALLOWED_FLAG
inline constexpr std::uint32_t kStoreEnumArchived = 0x200;     // CERT_STORE_ENUM_ARCHIVED_FLAG

/// Add dispositions (CERT_STORE_ADD_*).
enum class AddDisposition : std::uint32_t {
    New = 1,              // fail when the certificate is there already
    UseExisting = 2,      // keep the stored one
    ReplaceExisting = 3,  // replace it
    Always = 4,           // store it whatever is there (replaces: a store holds one per thumbprint)
    ReplaceExistingInheritProperties =
        5,  // replace, keeping the stored key link if the new has none
};

namespace detail {
struct StoreHandle;
}

/// A reference to one system store by location and name, open or closed. Owns the open
/// handle and closes it on destruction. `Filter` and `Display` are the hooks of the
/// certificate-selection dialog (`SelectCertificate`); derive to change them.
class X509Store {
  public:
    /// The current user's "My" store, closed.
    X509Store();
    X509Store(std::uint32_t location, std::u16string name);
    virtual ~X509Store();
    X509Store(const X509Store&) = delete;
    X509Store& operator=(const X509Store&) = delete;
    X509Store(X509Store&&) noexcept;
    X509Store& operator=(X509Store&&) noexcept;

    /// Flags: any mix of read-only, maximum-allowed and enum-archived, but not read-only with
    /// maximum-allowed (`Orvel::ArgumentException` 21701). Already open: X509Exception 21698.
    /// A missing store: `Orvel::Win32Exception` "CertOpenStore".
    void Open(std::uint32_t flags = 0);
    /// Closed already: X509Exception 21699.
    void Close();
    bool IsOpen() const noexcept { return handle_ != nullptr; }
    std::uint32_t Location() const noexcept { return location_; }
    const std::u16string& Name() const noexcept { return name_; }

    /// Stores the certificate (and its key link). A read-only store, or an existing
    /// certificate with `AddDisposition::New`, raises `Orvel::Win32Exception`
    /// "CertAddCertificateContextToStore".
    void Add(const X509Certificate& certificate, AddDisposition disposition);
    /// Every certificate of the store, ordered by thumbprint.
    X509CertificateCollection Certificates() const;
    /// The certificate the user picks among those the `Filter` hook offers, through the
    /// chooser hook the host installed (certificate_chooser.h); empty when the user cancels
    /// or no chooser is installed.
    X509Certificate SelectCertificate(void* ownerWindow, std::u16string_view title,
                                      std::u16string_view displayText, std::uint32_t hiddenColumns);

    /// Makes a new, empty store and returns it closed; an existing one raises
    /// `Orvel::Win32Exception` "CertOpenStore".
    static X509Store Create(std::uint32_t location, std::u16string name);
    /// Removes a store with its certificates; a missing store is not an error.
    static void Delete(std::uint32_t location, const std::u16string& name);

    /// The folder that holds a store (whether or not it exists). Bad locations and names
    /// raise `Orvel::Win32Exception` "CertOpenStore" with E_INVALIDARG.
    static std::filesystem::path FolderOf(std::uint32_t location, const std::u16string& name);

    /// Whether the certificate is offered by the dialog; may preselect it. Default: offer,
    /// nothing preselected.
    virtual bool Filter(const X509Certificate& certificate, bool& initiallySelected);
    /// Whether the hook showed the certificate itself. Default: false.
    virtual bool Display(const X509Certificate& certificate, void* ownerWindow);

  private:
    void RequireOpen() const;

    std::unique_ptr<detail::StoreHandle> handle_;
    std::uint32_t location_;
    std::u16string name_;
};

/// The process-wide current-user stores: 0 "My", 1 "AddressBook", 2 "TrustedPeople".
/// Opens the store (flags 0) when it is closed; the caller closes it when done.
/// Other indices raise `Orvel::ArgumentOutOfRangeException`.
X509Store& CurrentUserStore(std::size_t index);

}  // namespace Orvel::Security::Cryptography::X509
