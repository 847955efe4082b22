// Verification of PKCS#7 SignedData messages (the SOD element's value).
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/x509_certificate.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

/// A system store in which to look up the signer's certificate instead of taking it from the
/// message. An empty name means "My".
struct SignerStore {
    std::uint32_t location = 0x10000;
    std::u16string name = u"My";
};

/// The outcome of a verification that passed.
struct VerifiedMessage {
    Orvel::ByteArray content;
    bool signatureValid = false;
    Orvel::Security::Cryptography::X509::X509Certificate signer;
};

/// Checks the signature of the message's first signer against the signer's certificate, taken
/// from the message or, with `store`, from that store. No chain, revocation or trust check is
/// made. A message that cannot be decoded, carries no attached content or no signer, or whose
/// signer certificate cannot be found raises `CardException` "Error parsing PKCS7 structure
/// from SOD block, error code: %d" with a platform-style code (see signed_message.cpp); a
/// signature that does not verify raises "PKCS7 structure has invalid signature".
/// Without `store`, a message verified before is answered from a bounded process-wide memory
/// keyed by its exact bytes, which gives the same result as verifying it again.
VerifiedMessage VerifySignedMessage(std::span<const std::uint8_t> message,
                                    const std::optional<SignerStore>& store = std::nullopt);

/// Forgets the remembered outcomes of verified messages, so that the next verification of any
/// message does all its work again (for measurements and tests; results never depend on it).
void ForgetVerifiedMessages();
