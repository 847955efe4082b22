#include "carvix/support/x509_store.h"

#include "carvix/support/card_hold.h"
#include "carvix/support/certificate_chooser.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/string_table.h"
#include "carvix/support/text.h"
#include "store_folder.h"
#include "win32_codes.h"

#include <unistd.h>

#include <array>
#include <system_error>

namespace Orvel::Security::Cryptography::X509 {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kAlreadyOpened = 21698;
constexpr std::uint32_t kAlreadyClosed = 21699;
constexpr std::uint32_t kNotOpened = 21700;
constexpr std::uint32_t kInvalidFlags = 21701;

constexpr std::uint32_t kAllowedOpenFlags =
    kStoreReadOnly | kStoreMaximumAllowed | kStoreEnumArchived;

bool ValidStoreName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") {
        return false;
    }
    return name.find_first_of(std::u16string_view(u"/\0", 2)) == std::u16string::npos;
}

bool FolderExists(const fs::path& folder) {
    std::error_code error;
    return fs::is_directory(folder, error);
}

bool MakeFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        return false;
    }
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, error);
    return true;
}

}  // namespace

X509Store::X509Store() : X509Store(kStoreCurrentUser, u"My") {}

X509Store::X509Store(std::uint32_t location, std::u16string name)
    : location_(location), name_(std::move(name)) {}

X509Store::~X509Store() = default;
X509Store::X509Store(X509Store&&) noexcept = default;
X509Store& X509Store::operator=(X509Store&&) noexcept = default;

fs::path X509Store::FolderOf(std::uint32_t location, const std::u16string& name) {
    fs::path base = detail::LocationFolder(location);
    if (base.empty() || !ValidStoreName(name)) {
        throw Win32Exception("CertOpenStore", detail::kEInvalidArg);
    }
    return base / Utf16ToUtf8(name);
}

void X509Store::Open(std::uint32_t flags) {
    if (IsOpen()) {
        throw X509Exception(LoadString(kAlreadyOpened));
    }
    if ((flags & ~kAllowedOpenFlags) != 0 || (flags & (kStoreReadOnly | kStoreMaximumAllowed)) ==
                                                 (kStoreReadOnly | kStoreMaximumAllowed)) {
        throw ArgumentException(LoadString(kInvalidFlags));
    }
    fs::path folder = FolderOf(location_, name_);
    bool exists = FolderExists(folder);
    // The standard stores are there for every user even before anything was put in them.
    if (!exists && !detail::IsWellKnownStoreName(name_)) {
        throw Win32Exception("CertOpenStore", detail::kErrorFileNotFound);
    }
    auto handle = std::make_unique<detail::StoreHandle>();
    handle->folder = folder;
    handle->readOnly = (flags & kStoreReadOnly) != 0;
    if ((flags & kStoreMaximumAllowed) != 0 && exists && ::access(folder.c_str(), W_OK) != 0) {
        handle->readOnly = true;
    }
    handle_ = std::move(handle);
}

void X509Store::Close() {
    if (!IsOpen()) {
        throw X509Exception(LoadString(kAlreadyClosed));
    }
    handle_.reset();
}

void X509Store::RequireOpen() const {
    if (!IsOpen()) {
        throw X509Exception(LoadString(kNotOpened));
    }
}

void X509Store::Add(const X509Certificate& certificate, AddDisposition disposition) {
    RequireOpen();
    constexpr const char* kOperation = "CertAddCertificateContextToStore";
    if (certificate.IsEmpty()) {
        throw Win32Exception(kOperation, detail::kEInvalidArg);
    }
    if (handle_->readOnly) {
        throw Win32Exception(kOperation, detail::kErrorAccessDenied);
    }
    const fs::path& folder = handle_->folder;
    std::string thumbprint = certificate.Thumbprint();
    fs::path derPath = folder / (thumbprint + detail::kCertificateSuffix);
    fs::path linkPath = folder / (thumbprint + detail::kKeyLinkSuffix);
    std::error_code error;
    bool present = fs::exists(derPath, error);
    bool keepOldLink = false;
    switch (disposition) {
        case AddDisposition::New:
            if (present) {
                throw Win32Exception(kOperation, detail::kCryptEExists);
            }
            break;
        case AddDisposition::UseExisting:
            if (present) {
                return;
            }
            break;
        case AddDisposition::ReplaceExisting:
        case AddDisposition::Always:
            break;
        case AddDisposition::ReplaceExistingInheritProperties:
            keepOldLink = certificate.KeyProviderLink().empty();
            break;
        default:
            throw Win32Exception(kOperation, detail::kEInvalidArg);
    }
    if (!MakeFolder(folder)) {
        throw Win32Exception(kOperation, detail::kErrorAccessDenied);
    }
    ByteArray der = certificate.RawData();
    if (!detail::WriteFileAtomically(derPath, std::string(der.begin(), der.end()))) {
        throw Win32Exception(kOperation, detail::kErrorWriteFault);
    }
    std::string link = certificate.KeyProviderLink();
    if (!link.empty()) {
        if (!detail::WriteFileAtomically(linkPath, link + "\n")) {
            throw Win32Exception(kOperation, detail::kErrorWriteFault);
        }
    } else if (!keepOldLink) {
        fs::remove(linkPath, error);
    }
}

X509CertificateCollection X509Store::Certificates() const {
    RequireOpen();
    // Only the store's own files: a token's certificate is here when it was added with its
    // key link (at import, at selection, or by the user), so listing a store never loads a
    // PKCS#11 module or touches a token.
    X509CertificateCollection collection;
    for (const auto& certificate : detail::ReadCertificates(handle_->folder)) {
        collection.Add(certificate);
    }
    return collection;
}

X509Certificate X509Store::SelectCertificate(void* ownerWindow, std::u16string_view title,
                                             std::u16string_view displayText,
                                             std::uint32_t hiddenColumns) {
    RequireOpen();
    RequireNoCardHeld("Asking the user to choose a certificate");
    CertificateChoice choice;
    choice.ownerWindow = ownerWindow;
    choice.title = title;
    choice.displayText = displayText;
    choice.hiddenColumns = hiddenColumns;
    for (const auto& certificate : Certificates()) {
        bool selected = false;
        if (Filter(certificate, selected)) {
            choice.offered.push_back(certificate);
            choice.initiallySelected.push_back(selected);
        }
    }
    choice.display = [this, ownerWindow](const X509Certificate& certificate) {
        return Display(certificate, ownerWindow);
    };
    const CertificateChooser& chooser = GetCertificateChooser();
    if (!chooser) {
        return {};
    }
    std::optional<std::size_t> picked = chooser(choice);
    if (!picked || *picked >= choice.offered.size()) {
        return {};
    }
    return choice.offered[*picked];
}

X509Store X509Store::Create(std::uint32_t location, std::u16string name) {
    fs::path folder = FolderOf(location, name);
    if (FolderExists(folder)) {
        throw Win32Exception("CertOpenStore", detail::kErrorFileExists);
    }
    if (!MakeFolder(folder)) {
        throw Win32Exception("CertOpenStore", detail::kErrorAccessDenied);
    }
    return X509Store(location, std::move(name));
}

void X509Store::Delete(std::uint32_t location, const std::u16string& name) {
    fs::path folder = FolderOf(location, name);
    std::error_code error;
    fs::remove_all(folder, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        throw Win32Exception("CertOpenStore", detail::kErrorAccessDenied);
    }
}

bool X509Store::Filter(const X509Certificate&, bool& initiallySelected) {
    initiallySelected = false;
    return true;
}

bool X509Store::Display(const X509Certificate&, void*) {
    return false;
}

X509Store& CurrentUserStore(std::size_t index) {
    static std::array<X509Store, 3> stores = {X509Store(kStoreCurrentUser, u"My"),
                                              X509Store(kStoreCurrentUser, u"AddressBook"),
                                              X509Store(kStoreCurrentUser, u"TrustedPeople")};
    if (index >= stores.size()) {
        throw ArgumentOutOfRangeException(u"index");
    }
    X509Store& store = stores[index];
    if (!store.IsOpen()) {
        store.Open(0);
    }
    return store;
}

}  // namespace Orvel::Security::Cryptography::X509
