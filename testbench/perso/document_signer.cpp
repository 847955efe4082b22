#include "document_signer.h"

#include "perso_error.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdio>

namespace carvix::perso {
namespace {

struct FileClose {
    void operator()(FILE* f) const noexcept { std::fclose(f); }
};

std::string OpenSslError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "unknown error";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::unique_ptr<FILE, FileClose> OpenFile(const std::filesystem::path& path) {
    std::unique_ptr<FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) {
        throw PersoError("cannot open " + path.string());
    }
    return file;
}

}  // namespace

DocumentSigner::DocumentSigner(const std::filesystem::path& certificate,
                               const std::filesystem::path& key) {
    {
        auto file = OpenFile(certificate);
        certificate_.reset(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
        if (certificate_ == nullptr) {
            std::rewind(file.get());
            certificate_.reset(d2i_X509_fp(file.get(), nullptr));
        }
        if (certificate_ == nullptr) {
            throw PersoError(certificate.string() + ": no certificate (" + OpenSslError() + ")");
        }
    }
    {
        auto file = OpenFile(key);
        key_.reset(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
        if (key_ == nullptr) {
            throw PersoError(key.string() + ": no private key (" + OpenSslError() + ")");
        }
    }
    if (X509_check_private_key(certificate_.get(), key_.get()) != 1) {
        ERR_clear_error();
        throw PersoError(key.string() + " is not the key of " + certificate.string());
    }
}

Orvel::ByteArray DocumentSigner::Sign(const Orvel::ByteArray& content,
                                      bool includeCertificate) const {
    auto in = Orvel::OpenSsl::Own<BIO_free>(
        BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    const unsigned int flags =
        CMS_BINARY | CMS_NOATTR | CMS_NOSMIMECAP | (includeCertificate ? 0u : CMS_NOCERTS);
    auto cms = Orvel::OpenSsl::Own<CMS_ContentInfo_free>(
        CMS_sign(certificate_.get(), key_.get(), nullptr, in.get(), flags));
    if (cms == nullptr) {
        throw PersoError("signing failed: " + OpenSslError());
    }
    unsigned char* der = nullptr;
    int length = i2d_CMS_ContentInfo(cms.get(), &der);
    if (length <= 0) {
        throw PersoError("encoding the signed message failed: " + OpenSslError());
    }
    Orvel::ByteArray message(der, der + length);
    OPENSSL_free(der);
    return message;
}

}  // namespace carvix::perso
