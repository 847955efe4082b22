// The shared state behind X509Certificate copies.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/openssl_ptr.h"

#include <openssl/x509.h>

#include <memory>
#include <mutex>
#include <string>

namespace Orvel::Security::Cryptography::X509::detail {

struct CertificateContext {
    OpenSsl::Ptr<::X509, X509_free> certificate;
    ByteArray der;
    mutable std::mutex lock;  // guards the properties below
    std::string keyProviderLink;
};

}  // namespace Orvel::Security::Cryptography::X509::detail
