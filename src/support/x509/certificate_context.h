// The shared state behind X509Certificate copies.
#pragma once

#include "carvix/support/byte_array.h"

#include <openssl/x509.h>

#include <memory>
#include <mutex>
#include <string>

namespace Orvel::Security::Cryptography::X509::detail {

struct X509Free {
    void operator()(::X509* x) const noexcept { X509_free(x); }
};

struct CertificateContext {
    std::unique_ptr<::X509, X509Free> certificate;
    ByteArray der;
    mutable std::mutex lock;  // guards the properties below
    std::string keyProviderLink;
};

}  // namespace Orvel::Security::Cryptography::X509::detail
