// Signing and decryption with the user's own certificates: those of the current user's "My"
// store whose key-provider link leads to a private key.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/x509_certificate.h"

#include <span>

/// The name of the temporary store that holds the candidates while the user chooses one.
inline constexpr char16_t kTemporarySignerStore[] = u"TempMyStore$";

/// A DER PKCS#7 SignedData message carrying `content` (attached), signed with SHA-256 with
/// RSA and no signed attributes, with the signer's certificate in the message when
/// `includeCertificate` is set. An empty `certificate` lets the user choose
/// (ChooseSigningCertificate), otherwise FindSigningCertificate looks it up. Failures:
/// CardException "Signing certificate is missing" (the user cancelled), the messages of the
/// two look-ups, and "Unable to sign data" (no usable key, or OpenSSL failed), all E_FAIL.
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
