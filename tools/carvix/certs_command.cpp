#include "certs_command.h"

#include "certificate_file.h"
#include "client_names.h"
#include "key_copy.h"

#include <nlohmann/json.hpp>

#include "carvix/support/exceptions.h"
#include "carvix/support/pkcs11_hresult.h"
#include "carvix/support/token_key.h"
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
    std::string text = doing + ": " + Utf8(e.Message());
    if (const auto* win32 = dynamic_cast<const Orvel::Win32Exception*>(&e); win32 != nullptr) {
        char code[16];
        std::snprintf(code, sizeof code, " (0x%08X)", win32->Code());
        text += code;
    }
    return Fail(text);
}

std::string Describe(const x509::X509Certificate& certificate) {
    // A key file that has gone since it was linked cannot sign: say so instead of "key".
    const char* key = KeyLinkIsBroken(certificate.KeyProviderLink()) ? "BROKEN KEY LINK"
                      : certificate.HasPrivateKey()                  ? "key   "
                                                                     : "no key";
    return certificate.Thumbprint() + "  " + ExpiryDay(certificate) + "  " + key + "  " +
           Utf8(certificate.Subject());
}

}  // namespace

int ListCertificates(bool json) {
    try {
        x509::X509Store store(x509::kStoreCurrentUser, kStoreName);
        store.Open(x509::kStoreReadOnly);
        const x509::X509CertificateCollection all = store.Certificates();
        if (json) {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const x509::X509Certificate& certificate : all) {
                const std::string link = certificate.KeyProviderLink();
                const bool broken = KeyLinkIsBroken(link);
                list.push_back({{"thumbprint", certificate.Thumbprint()},
                                {"expires", ExpiryDay(certificate)},
                                {"subject", Utf8(certificate.Subject())},
                                {"key", broken                        ? "broken"
                                        : certificate.HasPrivateKey() ? "present"
                                                                      : "none"},
                                {"key_link", link}});
            }
            std::cout << list.dump(2) << "\n";
            return 0;
        }
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
        fs::path copied;
        if (!keyFile.empty()) {
            CheckKeyMatches(certificate, keyFile);
            // The store keeps its own copy of the key, so that the original may go later.
            copied = CopyKeyIntoStore(
                keyFile, x509::X509Store::FolderOf(x509::kStoreCurrentUser, kStoreName),
                certificate.Thumbprint());
            certificate.SetKeyProviderLink(copied.string());
            disposition = x509::AddDisposition::ReplaceExisting;
        }
        x509::X509Store store(x509::kStoreCurrentUser, kStoreName);
        try {
            store.Open(0);
            store.Add(certificate, disposition);
        } catch (...) {
            if (!copied.empty()) {
                std::error_code ignored;
                fs::remove(copied, ignored);  // no key copy without its certificate
            }
            throw;
        }
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

int AddTokenCertificates(const std::string& token, const std::string& module) {
    namespace p11 = Orvel::Pkcs11;
    p11::TokenChoice choice;
    if (token.rfind("pkcs11:", 0) == 0) {
        // A URI names the token (token=, serial=) and may name its module; id= is not needed.
        const auto link = p11::ParseKeyLink(token + (token.find(";id=") == std::string::npos
                                                         ? std::string(";id=%00")
                                                         : std::string()));
        if (!link) {
            std::cerr << "carvix: not a usable pkcs11: URI (it needs token=): " << token << "\n";
            return 2;
        }
        choice.label = link->token;
        choice.serial = link->serial;
        choice.modules = p11::ModulesOf(*link);
    } else {
        choice.label = token;
    }
    if (!module.empty()) {
        // A path (it has a slash or ends in .so) or the name p11-kit registered the module under.
        const bool path = module.find('/') != std::string::npos ||
                          (module.size() > 3 && module.compare(module.size() - 3, 3, ".so") == 0);
        choice.modules = path ? p11::ModuleChoice{module, {}} : p11::ModuleChoice{{}, module};
    }
    std::vector<x509::X509Certificate> found;
    try {
        found = p11::TokenCertificates(choice);
    } catch (const p11::Error& e) {
        return Fail(std::string("cannot load the PKCS#11 module") +
                    (module.empty() ? "s registered with p11-kit" : " " + module) + ": " +
                    e.what());
    }
    if (found.empty()) {
        return Fail("no token labelled \"" + choice.label +
                    "\" holds a certificate with its key pair" +
                    (choice.modules.Everything() ? "" : " in the module named"));
    }
    try {
        x509::X509Store store(x509::kStoreCurrentUser, kStoreName);
        store.Open(0);
        for (const x509::X509Certificate& certificate : found) {
            store.Add(certificate, x509::AddDisposition::ReplaceExisting);
            std::cout << "added " << Describe(certificate) << "\n"
                      << "  key " << certificate.KeyProviderLink() << "\n";
        }
        return 0;
    } catch (const Orvel::Exception& e) {
        return StoreFailure("adding the token's certificates to the store \"My\"", e);
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
        fs::remove(folder / "keys" / (wanted + ".pem"), ec);
        if (ec) {
            return Fail("cannot remove the key copy of " + wanted + ": " + ec.message());
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
