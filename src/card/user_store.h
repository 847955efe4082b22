// Opening the current user's certificate stores for signing and decryption, with store
// failures reported as the card layer's CardException.
#pragma once

#include "carvix/support/x509_store.h"

#include <string>
#include <vector>

namespace carvix::card {

/// Every certificate of the current user's store `name`, read through a read-only handle
/// that is closed again before returning. A store that cannot be opened raises CardException
/// (E_FAIL) naming the store and the platform's reason.
std::vector<Orvel::Security::Cryptography::X509::X509Certificate> UserCertificates(
    const std::u16string& name);

}  // namespace carvix::card
