#include "certs_command.h"

#include "certificate_file.h"
#include "dispatch_client.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/x509_store.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

namespace carvix::cli {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;
namespace fs = std::filesystem;

constexpr char16_t kStoreName[] = u"My";

int Fail(const std::string& text) {
    std::cerr << "carvix: " << text << "\n";
    return 1;
}

int StoreFailure(const std::string& doing, const Orvel::Exception& e) {
    std::string text = doing + ": " + ToUtf8(e.Message());
    if (const auto* win32 = dynamic_cast<const Orvel::Win32Exception*>(&e); win32 != nullptr) {
        char code[16];
        std::snprintf(code, sizeof code, " (0x%08X)", win32->Code());
        text += code;
    }
    return Fail(text);
}

std::string Describe(const x509::X509Certificate& certificate) {
    return certificate.Thumbprint() + "  " + ExpiryDay(certificate) + "  " +
           (certificate.HasPrivateKey() ? "key   " : "no key") + "  " +
           ToUtf8(certificate.Subject());
}

}  // namespace

int ListCertificates() {
    try {
        x509::X509Store store(x509::kStoreCurrentUser, kStoreName);
        store.Open(x509::kStoreReadOnly);
        const x509::X509CertificateCollection all = store.Certificates();
        for (const x509::X509Certificate& certificate : all) {
            std::cout << Describe(certificate) << "\n";
        }
        if (all.Empty()) {
            std::cerr << "carvix: the store \"My\" holds no certificate\n";
        }
        return 0;
    } catch (const Orvel::Exception& e) {
        return StoreFailure("listing the store \"My\"", e);
    }
}

int AddCertificate(const std::string& certFile, const std::string& keyFile) {
    try {
        x509::X509Certificate certificate = ReadCertificateFile(certFile);
        x509::AddDisposition disposition = x509::AddDisposition::ReplaceExistingInheritProperties;
        if (!keyFile.empty()) {
            CheckKeyMatches(certificate, keyFile);
            // The link must lead to the key from wherever the component runs.
            certificate.SetKeyProviderLink(fs::absolute(keyFile).lexically_normal().string());
            disposition = x509::AddDisposition::ReplaceExisting;
        }
        x509::X509Store store(x509::kStoreCurrentUser, kStoreName);
        store.Open(0);
        store.Add(certificate, disposition);
        for (const x509::X509Certificate& stored : store.Certificates()) {
            if (stored.Thumbprint() == certificate.Thumbprint()) {
                std::cout << "added " << Describe(stored) << "\n";
            }
        }
        return 0;
    } catch (const FileError& e) {
        return Fail(e.what());
    } catch (const Orvel::Exception& e) {
        return StoreFailure("adding " + certFile + " to the store \"My\"", e);
    }
}

int RemoveCertificate(const std::string& thumbprint) {
    std::string wanted = thumbprint;
    std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    // A thumbprint names files in the store folder, so nothing else may pass.
    if (wanted.size() != 40 || !std::all_of(wanted.begin(), wanted.end(),
                                            [](unsigned char c) { return std::isxdigit(c); })) {
        std::cerr << "carvix: not a SHA-1 thumbprint (40 hexadecimal digits): " << thumbprint
                  << "\n";
        return 2;
    }
    try {
        x509::X509Store store(x509::kStoreCurrentUser, kStoreName);
        store.Open(x509::kStoreReadOnly);
        bool found = false;
        for (const x509::X509Certificate& certificate : store.Certificates()) {
            found = found || certificate.Thumbprint() == wanted;
        }
        if (!found) {
            return Fail("the store \"My\" holds no certificate " + wanted);
        }
        store.Close();
        // The store's files: THUMBPRINT.der and its key link THUMBPRINT.key.
        const fs::path folder = x509::X509Store::FolderOf(x509::kStoreCurrentUser, kStoreName);
        std::error_code ec;
        fs::remove(folder / (wanted + ".key"), ec);
        if (ec) {
            return Fail("cannot remove the key link of " + wanted + ": " + ec.message());
        }
        fs::remove(folder / (wanted + ".der"), ec);
        if (ec) {
            return Fail("cannot remove " + wanted + ": " + ec.message());
        }
        std::cout << "removed " << wanted << "\n";
        return 0;
    } catch (const Orvel::Exception& e) {
        return StoreFailure("removing " + wanted + " from the store \"My\"", e);
    }
}

}  // namespace carvix::cli
