// Signing and decryption with the user's own certificates: those of the current user's "My"
// store whose key-provider link leads to a private key.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/private_key.h"
#include "carvix/support/x509_certificate.h"

#include <span>

/// The name of the temporary store that holds the candidates while the user chooses one.
inline constexpr char16_t kTemporarySignerStore[] = u"TempMyStore$";

/// A signer ready to sign: the certificate of "My" and its private key, already opened (a
/// key on a token is logged in to). Everything that may ask the user, load a PKCS#11 module
/// or wait on a token happens in ResolveSigner, before any card is held; SignContent then
/// only computes.
struct Signer {
    Orvel::Security::Cryptography::X509::X509Certificate certificate;
    Orvel::Security::Cryptography::X509::PrivateKey key;
};

/// The signer for `certificate`: an empty certificate lets the user choose
/// (ChooseSigningCertificate), otherwise FindSigningCertificate looks it up; then its key is
/// opened. Failures: CardException "Signing certificate is missing" (the user cancelled), the
/// messages of the two look-ups, and "Unable to sign data" (no usable key), all E_FAIL.
Signer ResolveSigner(const Orvel::Security::Cryptography::X509::X509Certificate& certificate);

/// A DER PKCS#7 SignedData message carrying `content` (attached), signed with SHA-256 with
/// RSA and no signed attributes, with the signer's certificate in the message when
/// `includeCertificate` is set. Only computes: safe while a card is held. Failure:
/// CardException "Unable to sign data" (E_FAIL).
Orvel::ByteArray SignWith(std::span<const std::uint8_t> content, const Signer& signer,
                          bool includeCertificate);

/// ResolveSigner, then SignWith: for callers that hold no card.
Orvel::ByteArray SignContent(
    std::span<const std::uint8_t> content,
    const Orvel::Security::Cryptography::X509::X509Certificate& certificate,
    bool includeCertificate);

/// The certificate of "My" with the same issuer and serial number, which carries the key link
/// that a certificate made from bytes lacks. None: CardException "There is no suitable
/// certificate that can be used for signing".
Orvel::Security::Cryptography::X509::X509Certificate FindSigningCertificate(
    const Orvel::Security::Cryptography::X509::X509Certificate& certificate);

/// A certificate of "My" that has a key link. One candidate is returned without a question;
/// several are put into the temporary store "TempMyStore$" and offered through the installed
/// certificate chooser, and the store is removed again whatever happens. Returns an empty
/// certificate when the user cancels. None: CardException "There is no suitable certificate
/// that can be used for signing". A left-over temporary store from an interrupted run is
/// removed and the call fails (CardException E_FAIL), so the next call works.
Orvel::Security::Cryptography::X509::X509Certificate ChooseSigningCertificate(void* ownerWindow);

/// The content of a PKCS#7 EnvelopedData message addressed to a certificate of "My" whose key
/// the user holds. Failure: CardException "Unable to decrypt data" with the platform's code
/// (CRYPT_E_ASN1_BADTAG or CRYPT_E_UNEXPECTED_MSG_TYPE for a message that is not one,
/// CRYPT_E_NO_DECRYPT_CERT when no usable certificate is a recipient, NTE_BAD_DATA when
/// the decryption itself fails).
Orvel::ByteArray DecryptMessage(std::span<const std::uint8_t> message);
