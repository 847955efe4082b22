// The key containers of a PKCS#11 token, in the terms of a smart-card crypto provider.
//
// Mapping decisions:
// - Reader -> token: "\\.\READER\" and "\\.\READER\CONTAINER" name the token whose slot
//   description or token label equals READER (trailing blanks ignored; OpenSC names its
//   slots after the PC/SC reader, SoftHSM tokens are named by label); slot IDs are never
//   used. The reader part ends at the first backslash after "\\.\". A name without the
//   "\\.\" prefix is a container on the default token: the first token, in p11-kit's module
//   and slot order, that offers CKM_RSA_PKCS.
// - Container: the key objects sharing one CKA_LABEL (UTF-8). A container exists while a
//   public key carries its label; containers are enumerated from the public keys, in byte
//   order of their labels, so nothing needs a login. Generating a key pair is what makes a
//   container exist (a token has no empty container object).
// - Key usage: AT_KEYEXCHANGE is the container's key pair that may decrypt, AT_SIGNATURE the
//   pair that may sign and not decrypt, judged from both keys and the certificate's key usage
//   (key_usage.h); our own exchange pairs get CKA_ENCRYPT/CKA_WRAP on the public key and
//   CKA_DECRYPT/CKA_UNWRAP on the private key. Public key, private key and certificate of
//   one pair share a CKA_ID: the SHA-1 of the modulus, as OpenSC sets it.
// - A reader may also be named by a `pkcs11:` URI (token attributes, `module-path` or
//   `module-name`), which tells apart tokens with the same label.
// - Default container (empty name): the first container of the token; when the token has
//   none, key generation creates "Default".
// - Certificate of a container and key usage: the X.509 CKO_CERTIFICATE object
//   with the pair's CKA_ID; importing replaces it and refuses a certificate whose public
//   key is not the pair's.
// Every failure raises ProviderError with the HRESULT a caller of the Windows provider sees;
// PKCS#11 results go through Orvel::Pkcs11::HResultOf.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/pkcs11_token.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace carvix::pki {

inline constexpr std::uint32_t kAtKeyExchange = 1;
inline constexpr std::uint32_t kAtSignature = 2;
/// CRYPT_DEFAULT_CONTAINER_OPTIONAL: acquire the token without a container.
inline constexpr std::uint32_t kContainerOptional = 0x80;

inline constexpr std::uint32_t kBadKeyset = 0x80090016u;          // NTE_BAD_KEYSET
inline constexpr std::uint32_t kNoKey = 0x8009000Du;              // NTE_NO_KEY
inline constexpr std::uint32_t kBadFlags = 0x80090009u;           // NTE_BAD_FLAGS
inline constexpr std::uint32_t kBadAlgId = 0x80090008u;           // NTE_BAD_ALGID
inline constexpr std::uint32_t kBadData = 0x80090005u;            // NTE_BAD_DATA
inline constexpr std::uint32_t kBadPublicKey = 0x80090015u;       // NTE_BAD_PUBLIC_KEY
inline constexpr std::uint32_t kNoSmartCard = 0x8010000Cu;        // SCARD_E_NO_SMARTCARD
inline constexpr std::uint32_t kNoSuchCertificate = 0x8010002Cu;  // SCARD_E_NO_SUCH_CERTIFICATE
inline constexpr std::uint32_t kMoreData = 0x800700EAu;           // ERROR_MORE_DATA

/// A provider failure with its HRESULT.
class ProviderError : public std::exception {
  public:
    explicit ProviderError(std::uint32_t hresult) : hresult_(hresult) {}
    std::uint32_t HResult() const noexcept { return hresult_; }
    const char* what() const noexcept override { return "key container provider failure"; }

  private:
    std::uint32_t hresult_;
};

/// The HRESULT of the exception being handled (ProviderError, Orvel::Pkcs11::Error, others).
std::uint32_t CurrentProviderFailure() noexcept;

/// The reader and container parts of a container name.
struct ContainerName {
    std::optional<std::u16string> reader;  // set for the "\\.\READER\..." forms
    std::u16string container;              // empty: the default container (or none)
};
ContainerName ParseContainerName(std::u16string_view name);

/// The provider acquired for a token and, unless acquired with kContainerOptional, one of its
/// containers. Owns its session; each call opens its own.
class KeyContainer {
  public:
    /// Flags 0: the container must exist (NTE_BAD_KEYSET), unless `forKeyGeneration`.
    static KeyContainer Acquire(std::u16string_view name, std::uint32_t flags,
                                bool forKeyGeneration = false);

    /// The token's container names (UTF-8), in enumeration order.
    std::vector<std::string> ContainerNames();
    const std::string& Container() const noexcept { return container_; }
    /// The token's label (UTF-8).
    const std::string& TokenLabel() const noexcept;

    /// Generates the pair for the key usage in this container, replacing an older
    /// pair (and its certificate) only once the new pair is complete; any failure removes
    /// the new pair and keeps the old. The length in bits is the upper 16 bits of `flags`, 2048
    /// when they are 0; a length the token does not support gives NTE_BAD_FLAGS.
    void GenerateKeyPair(std::uint32_t keySpec, std::uint32_t flags);
    /// The DER SubjectPublicKeyInfo of the pair's public key; NTE_NO_KEY without a pair.
    Orvel::ByteArray PublicKeyInfo(std::uint32_t keySpec);
    /// SHA-1 with RSA (PKCS#1 v1.5) over `data` with the pair's private key, on the token.
    Orvel::ByteArray SignSha1(std::uint32_t keySpec, std::span<const std::uint8_t> data);
    /// Stores the certificate of the pair; NTE_BAD_DATA when the bytes are not a certificate,
    /// NTE_BAD_PUBLIC_KEY when its key is not the pair's. The certificate also goes into the
    /// user's "My" store with the link to its key (KeepInUserStore).
    void SetCertificate(std::uint32_t keySpec, std::span<const std::uint8_t> der);
    /// The certificate of the pair in the named container of this token: NTE_BAD_KEYSET,
    /// NTE_NO_KEY, SCARD_E_NO_SUCH_CERTIFICATE, or ERROR_MORE_DATA above `capacity` bytes.
    /// `id`, when given, receives the pair's CKA_ID.
    Orvel::ByteArray CertificateOf(const std::string& container, std::uint32_t keySpec,
                                   std::size_t capacity, Orvel::ByteArray* id = nullptr);
    /// Puts a certificate of this token's pair `id` into the user's "My" store with the
    /// `pkcs11:` link to its private key (token, serial number, module), so that signing with
    /// it later loads that module alone and listing "My" never loads any. Best effort: a store
    /// that cannot be written is traced, not raised, since the token holds the certificate.
    void KeepInUserStore(std::span<const std::uint8_t> der, const Orvel::ByteArray& id) noexcept;

  private:
    explicit KeyContainer(std::unique_ptr<Orvel::Pkcs11::Session> session)
        : session_(std::move(session)) {}
    std::optional<CK_OBJECT_HANDLE> PublicKey(const std::string& container, std::uint32_t keySpec);
    CK_OBJECT_HANDLE RequirePublicKey(std::uint32_t keySpec);
    void DestroyPair(const Orvel::ByteArray& id);

    std::unique_ptr<Orvel::Pkcs11::Session> session_;
    std::string container_;
};

}  // namespace carvix::pki
