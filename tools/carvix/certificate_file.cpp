#include "certificate_file.h"

#include "carvix/support/openssl_ptr.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

namespace carvix::cli {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw FileError(path.string() + ": cannot be read");
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A protected key would need a passphrase; the store links keys that open without one.
int NoPassphrase(char*, int, int, void*) {
    return 0;
}

}  // namespace

x509::X509Certificate ReadCertificateFile(const std::filesystem::path& path) {
    const std::vector<unsigned char> bytes = ReadBytes(path);
    auto bio = Orvel::OpenSsl::Own<BIO_free>(
        BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    Orvel::OpenSsl::Ptr<X509, X509_free> parsed(
        bio == nullptr ? nullptr : PEM_read_bio_X509(bio.get(), nullptr, NoPassphrase, nullptr));
    ERR_clear_error();
    if (parsed != nullptr) {
        return x509::X509Certificate(parsed.get());
    }
    try {
        return x509::X509Certificate(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
    } catch (...) {
        // Neither PEM nor DER: said below for both.
    }
    throw FileError(path.string() + ": not a PEM or DER certificate");
}

void CheckKeyMatches(const x509::X509Certificate& certificate,
                     const std::filesystem::path& keyPath) {
    auto file = Orvel::OpenSsl::Own<BIO_free>(BIO_new_file(keyPath.c_str(), "rb"));
    if (file == nullptr) {
        ERR_clear_error();
        throw FileError(keyPath.string() + ": cannot be read");
    }
    Orvel::OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free> key(
        PEM_read_bio_PrivateKey(file.get(), nullptr, NoPassphrase, nullptr));
    if (key == nullptr) {
        ERR_clear_error();
        throw FileError(keyPath.string() +
                        ": not a PEM private key (or protected by a passphrase)");
    }
    if (X509_check_private_key(certificate.Handle(), key.get()) != 1) {
        ERR_clear_error();
        throw FileError(keyPath.string() + ": the key does not match the certificate's public key");
    }
}

std::string ExpiryDay(const x509::X509Certificate& certificate) {
    std::tm t{};
    if (certificate.Handle() == nullptr ||
        ASN1_TIME_to_tm(X509_get0_notAfter(certificate.Handle()), &t) != 1) {
        return {};
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return text;
}

}  // namespace carvix::cli
