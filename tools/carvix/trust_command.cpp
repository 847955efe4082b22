#include "trust_command.h"

#include "block_filler.h"
#include "certificate_file.h"

#include "carvix/card/signer_trust.h"
#include "carvix/card/trust_anchors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace carvix::cli {
namespace {

namespace fs = std::filesystem;
namespace OpenSsl = Orvel::OpenSsl;
using Json = nlohmann::ordered_json;

constexpr HRESULT kNoSignature = static_cast<HRESULT>(0x800B0100u);

int Fail(const std::string& text) {
    std::cerr << "carvix: " << text << "\n";
    return 1;
}

std::string Text(const ScopedVariant& value) {
    return value->vt == VT_BSTR ? Utf8Of(value->bstrVal) : std::string();
}

std::string Hex(const unsigned char* bytes, unsigned length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}

// SHA-1 of DER bytes in hexadecimal, the name the file gets.
template <class T, auto Encode>
std::string Thumbprint(T* object) {
    unsigned char* der = nullptr;
    const int length = Encode(object, &der);
    if (length <= 0) {
        return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EVP_Digest(der, static_cast<std::size_t>(length), digest, &size, EVP_sha1(), nullptr);
    OPENSSL_free(der);
    return Hex(digest, size);
}

// Writes `text` to `folder`/`name` through a temporary file and a rename, readable by all and
// writable by the owner only.
void Install(const fs::path& folder, const std::string& name, const std::string& text) {
    const fs::path target = folder / name;
    const fs::path temporary = folder / ("." + name + ".new");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot write " + temporary.string());
    }
    ::fchmod(fd, 0644);
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw std::runtime_error("cannot write " + target.string());
    }
}

std::string Pem(auto write, auto* object) {
    auto bio = OpenSsl::Own<BIO_free>(BIO_new(BIO_s_mem()));
    write(bio.get(), object);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

fs::path FolderFor(bool system) {
    return system ? card::SystemTrustFolder() : card::UserTrustFolder();
}

}  // namespace

bool SignersConfigured() {
    const Object trust = Object::Create(u"CARVIX.SignerTrust");
    ScopedVariant anchors;
    ScopedVariant required;
    trust.Get(u"AnchorsInstalled", anchors);
    trust.Get(u"TrustedSignerRequired", required);
    return (anchors->vt == VT_BOOL && anchors->boolVal != 0) ||
           (required->vt == VT_BOOL && required->boolVal != 0);
}

std::optional<SignerView> SignerOfBlock(const Object& block) {
    const Object trust = Object::Create(u"CARVIX.SignerTrust");
    ScopedVariant result;
    try {
        trust.Call(u"SignerOf", {ObjectValue(block.Get())}, result);
    } catch (const ClientError& e) {
        if (e.hresult == kNoSignature) {
            return std::nullopt;
        }
        throw;
    }
    if (result->vt != VT_DISPATCH || result->pdispVal == nullptr) {
        throw ClientError{DISP_E_TYPEMISMATCH, "SignerOf"};
    }
    result->pdispVal->AddRef();
    const Object signer(result->pdispVal);
    SignerView view;
    for (const char16_t* name : {u"Subject", u"Issuer", u"SerialNumber", u"Trust", u"Reason"}) {
        ScopedVariant value;
        signer.Get(name, value);
        std::string key = Utf8(name);
        key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
        const std::string text = Text(value);
        if (!text.empty() || key != "reason") {
            view.json[key] = text;
        }
    }
    const std::string status = view.json["trust"].get<std::string>();
    view.trusted = status == "trusted";
    std::string trustText = status == "not checked" ? "trust not checked" : status;
    if (view.json.contains("reason")) {
        trustText += " (" + view.json["reason"].get<std::string>() + ")";
    }
    view.line = "verified, signed by " + view.json["subject"].get<std::string>() + ", " + trustText;
    view.json["text"] = view.line;
    return view;
}

int TrustAdd(const std::string& file, bool system) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        return Fail("cannot read " + file);
    }
    // PEM with any number of certificates and lists, else one DER certificate or list.
    std::vector<std::pair<std::string, std::string>> files;  // name, PEM text
    auto addCertificate = [&](X509* certificate) {
        files.emplace_back(Thumbprint<X509, i2d_X509>(certificate) + ".pem",
                           Pem(PEM_write_bio_X509, certificate));
    };
    // A list is named after its issuer, so that a newer list replaces the older one.
    auto addCrl = [&](X509_CRL* crl) {
        files.emplace_back(
            "crl-" + Thumbprint<X509_NAME, i2d_X509_NAME>(X509_CRL_get_issuer(crl)) + ".pem",
            Pem(PEM_write_bio_X509_CRL, crl));
    };
    card::ForEachTrustObject(bytes, addCertificate, addCrl);
    if (files.empty()) {
        return Fail(file + " holds no certificate or revocation list (PEM or DER)");
    }
    const fs::path folder = FolderFor(system);
    if (folder.empty()) {
        return Fail("no folder for the user's trust anchors (HOME is not set)");
    }
    try {
        std::error_code error;
        fs::create_directories(folder, error);
        ::chmod(folder.c_str(), 0755);
        const std::string why =
            card::UnsafeTrustPath(folder, true, system ? 0u : static_cast<unsigned>(::geteuid()));
        if (!why.empty()) {
            return Fail("the trust folder " + folder.string() + " cannot be used (" + why + ")");
        }
        for (const auto& [name, text] : files) {
            Install(folder, name, text);
            std::cout << (folder / name).string() << "\n";
        }
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return 0;
}

int TrustList() {
    const auto set = card::AnchorSet::Installed();
    for (const std::string& warning : set->Warnings()) {
        std::cerr << "carvix: " << warning << "\n";
    }
    for (const card::AnchorFile& file : set->Files()) {
        std::cout << (file.scope == card::AnchorScope::System ? "system" : "user  ") << "  "
                  << file.path.stem().string() << "  " << (file.isCrl ? "crl   " : "anchor") << "  "
                  << (file.notAfter.empty() ? "-" : file.notAfter.substr(0, 10)) << "  "
                  << file.subject << "\n";
    }
    if (set->Files().empty()) {
        std::cerr << "carvix: no trust anchor is installed (" << card::SystemTrustFolder().string()
                  << ", " << card::UserTrustFolder().string()
                  << "): reads are verified, their signers not checked\n";
    }
    return 0;
}

int TrustRemove(const std::string& thumbprint, bool system) {
    const fs::path folder = FolderFor(system);
    std::string name = thumbprint;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return static_cast<char>(c == '-' ? c : std::toupper(c));
    });
    if (name.rfind("CRL-", 0) == 0) {
        name = "crl-" + name.substr(4);
    }
    const bool plain = !name.empty() && name.find('/') == std::string::npos && name[0] != '.';
    const fs::path file = folder / (name + ".pem");
    if (!plain || !fs::is_regular_file(file)) {
        return Fail("no anchor " + thumbprint + " in " + folder.string() +
                    " (see `carvix trust list`)");
    }
    if (::unlink(file.c_str()) != 0) {
        return Fail("cannot remove " + file.string());
    }
    std::cout << "removed " << file.string() << "\n";
    return 0;
}

void WarnIfSignerUntrusted(const std::string& certFile) {
    if (certFile.empty()) {
        return;
    }
    const auto anchors = card::AnchorSet::Installed();
    if (!anchors->HasCertificates()) {
        return;
    }
    const auto certificate = ReadCertificateFile(certFile);
    const card::SignerTrust trust =
        card::CheckSignerTrust(*anchors, certificate.Handle(), nullptr, std::nullopt);
    if (trust.status == card::TrustStatus::Trusted) {
        return;
    }
    std::cerr << "carvix: warning: the signer " << Utf8(certificate.Subject())
              << " does not chain to an installed trust anchor (" << card::TrustText(trust)
              << (trust.detail.empty() ? "" : ": " + trust.detail)
              << "); a card written with it reads as untrusted\n";
}

}  // namespace carvix::cli
