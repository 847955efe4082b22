// Owning pointers for OpenSSL objects: one template for every type and its free function.
//
//   auto bio = Orvel::OpenSsl::Own<BIO_free>(BIO_new(BIO_s_mem()));
//   Orvel::OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free> key;
//
// Header only, so that the tools which do not link the support library can use it too.
#pragma once

#include <openssl/x509.h>

#include <memory>

namespace Orvel::OpenSsl {

/// Frees an object with `Free`; a null pointer is never passed on.
template <auto Free>
struct FreeWith {
    template <typename T>
    void operator()(T* object) const noexcept {
        if (object != nullptr) {
            Free(object);
        }
    }
};

/// A `std::unique_ptr` that frees its OpenSSL object with `Free`.
template <typename T, auto Free>
using Ptr = std::unique_ptr<T, FreeWith<Free>>;

/// Takes ownership of `object` (which may be null), deducing its type.
template <auto Free, typename T>
Ptr<T, Free> Own(T* object) noexcept {
    return Ptr<T, Free>(object);
}

/// Frees a certificate stack together with the certificates in it (`sk_X509_pop_free` is a
/// macro, so it cannot be a template argument itself).
inline void FreeCertificates(STACK_OF(X509) * certificates) noexcept {
    sk_X509_pop_free(certificates, X509_free);
}

}  // namespace Orvel::OpenSsl
