#include "test_pki.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace carvix::testpki {
namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test PKI: ") + what);
    }
}

}  // namespace

Bytes Identity::Der() const {
    unsigned char* out = nullptr;
    int n = i2d_X509(certificate.get(), &out);
    Check(n > 0, "i2d_X509");
    Bytes der(out, out + n);
    OPENSSL_free(out);
    return der;
}

std::filesystem::path Identity::WriteKey(const std::filesystem::path& file) const {
    FILE* f = std::fopen(file.c_str(), "w");
    Check(f != nullptr, "open key file");
    int ok = PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
    Check(ok == 1, "PEM_write_PrivateKey");
    return file;
}

Identity MakeIdentity(const std::string& commonName, long serial, const Identity* issuer,
                      std::size_t commentBytes) {
    Identity id;
    id.key.reset(EVP_RSA_gen(2048));
    Check(id.key != nullptr, "EVP_RSA_gen");
    id.certificate.reset(X509_new());
    X509* x = id.certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(
        x, issuer != nullptr ? X509_get_subject_name(issuer->certificate.get()) : name);
    X509_set_pubkey(x, id.key.get());
    if (commentBytes > 0) {
        const std::string comment(commentBytes, 'x');
        X509_EXTENSION* extension =
            X509V3_EXT_conf_nid(nullptr, nullptr, NID_netscape_comment, comment.c_str());
        Check(extension != nullptr && X509_add_ext(x, extension, -1) == 1, "comment extension");
        X509_EXTENSION_free(extension);
    }
    EVP_PKEY* signingKey = issuer != nullptr ? issuer->key.get() : id.key.get();
    Check(X509_sign(x, signingKey, EVP_sha256()) > 0, "X509_sign");
    return id;
}

Bytes SignMessage(const Bytes& content, const Identity& signer, SignedAttributes attributes,
                  bool withCertificate) {
    auto in = Orvel::OpenSsl::Own<BIO_free>(
        BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    unsigned int flags = CMS_BINARY | CMS_PARTIAL;
    if (attributes == SignedAttributes::None) {
        flags |= CMS_NOATTR;
    }
    if (!withCertificate) {
        flags |= CMS_NOCERTS;
    }
    CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, flags);
    Check(cms != nullptr, "CMS_sign");
    Check(CMS_add1_signer(cms, signer.certificate.get(), signer.key.get(), EVP_sha256(), flags) !=
              nullptr,
          "CMS_add1_signer");
    Check(CMS_final(cms, in.get(), nullptr, flags) == 1, "CMS_final");
    unsigned char* out = nullptr;
    int n = i2d_CMS_ContentInfo(cms, &out);
    CMS_ContentInfo_free(cms);
    Check(n > 0, "i2d_CMS_ContentInfo");
    Bytes der(out, out + n);
    OPENSSL_free(out);
    return der;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "carvix-test-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

PrivateStores::PrivateStores() {
    if (const char* old = std::getenv("XDG_DATA_HOME")) {
        saved_ = old;
        hadValue_ = true;
    }
    ::setenv("XDG_DATA_HOME", folder_.Path().c_str(), 1);
}

PrivateStores::~PrivateStores() {
    if (hadValue_) {
        ::setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

std::filesystem::path PrivateStores::StoreFolder(const std::string& name) const {
    return folder_.Path() / "carvix" / "certstores" / name;
}

}  // namespace carvix::testpki
