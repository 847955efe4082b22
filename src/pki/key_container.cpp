#include "carvix/pki/key_container.h"

#include "der_writer.h"

#include "carvix/pki/key_usage.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/openssl_ptr.h"
#include "carvix/support/pkcs11_hresult.h"
#include "carvix/support/pkcs11_uri.h"
#include "carvix/support/token_key.h"
#include "carvix/support/trace.h"
#include "carvix/support/unicode.h"
#include "carvix/support/x509_store.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <new>
#include <set>

namespace carvix::pki {
namespace {

namespace p11 = Orvel::Pkcs11;
namespace x509 = Orvel::Security::Cryptography::X509;
using Orvel::ByteArray;

constexpr std::u16string_view kReaderPrefix = u"\\\\.\\";
constexpr const char* kDefaultContainer = "Default";
constexpr std::uint32_t kDefaultBits = 2048;

// DigestInfo prefix of a SHA-1 hash (PKCS#1 v1.5).
constexpr std::uint8_t kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                            0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};

bool SupportsRsa(const p11::Token& token) {
    CK_MECHANISM_INFO info{};
    return token.module->C_GetMechanismInfo(token.slot, CKM_RSA_PKCS, &info) == CKR_OK;
}

// A reader name is a slot description or token label, or a `pkcs11:` URI naming a token
// (and perhaps its module) for callers that must tell apart tokens with the same label.
p11::Token FindToken(const std::optional<std::u16string>& reader) {
    if (reader && reader->rfind(u"pkcs11:", 0) == 0) {
        const std::string uri = Orvel::Utf16ToUtf8(*reader);
        const auto module = p11::ModuleOfUri(uri);
        if (!p11::UriMatchesToken(uri, CK_TOKEN_INFO{})) {
            throw ProviderError(kNoSmartCard);  // not a URI we can check: refused
        }
        for (const auto& token : p11::AllTokens({module.path, module.name})) {
            if (p11::UriMatchesToken(uri, token.info, &token.slotInfo, &token.moduleInfo,
                                     token.slot)
                    .value_or(false)) {
                return token;
            }
        }
        throw ProviderError(kNoSmartCard);
    }
    const auto tokens = p11::AllTokens();
    if (reader) {
        const std::string name = Orvel::Utf16ToUtf8(*reader);
        for (const auto& token : tokens) {
            if (token.slotDescription == name || token.label == name) {
                return token;
            }
        }
    } else {
        for (const auto& token : tokens) {
            if (SupportsRsa(token)) {
                return token;
            }
        }
    }
    throw ProviderError(kNoSmartCard);
}

// A CK_BBOOL attribute; none when the object does not show it.
std::optional<bool> FlagOf(p11::Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_BBOOL value = CK_FALSE;
    CK_ATTRIBUTE attribute{type, &value, sizeof value};
    if (session.F()->C_GetAttributeValue(session.Handle(), object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen != sizeof value) {
        return std::nullopt;
    }
    return value == CK_TRUE;
}

std::optional<CK_OBJECT_HANDLE> FindById(p11::Session& session, CK_OBJECT_CLASS objectClass,
                                         const ByteArray& id) {
    ByteArray match_id = id;
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                            {CKA_ID, match_id.data(), match_id.size()}};
    const auto found = session.Find(match);
    if (found.empty()) {
        return std::nullopt;
    }
    return found.front();
}

// The key-usage bits of the pair's certificate; none without a certificate or extension.
std::optional<std::uint32_t> CertificateKeyUsage(p11::Session& session, const ByteArray& id) {
    const auto certificate = FindById(session, CKO_CERTIFICATE, id);
    ByteArray der;
    if (!certificate || !session.Attribute(*certificate, CKA_VALUE, der)) {
        return std::nullopt;
    }
    const unsigned char* cursor = der.data();
    auto parsed =
        Orvel::OpenSsl::Own<X509_free>(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (parsed == nullptr) {
        return std::nullopt;
    }
    const std::uint32_t bits = X509_get_key_usage(parsed.get());
    if (bits == UINT32_MAX) {
        return std::nullopt;
    }
    return bits;
}

// What the pair of this public key may do. A private key is hidden before login on most
// tokens; when only it can settle the question (the public key allows encryption, as some
// tools mark every public key), the session logs in to see it.
PairUsage UsageOf(p11::Session& session, CK_OBJECT_HANDLE publicKey) {
    PairFacts facts;
    facts.publicEncrypt = FlagOf(session, publicKey, CKA_ENCRYPT);
    facts.publicVerify = FlagOf(session, publicKey, CKA_VERIFY);
    ByteArray id;
    if (!session.Attribute(publicKey, CKA_ID, id) || id.empty()) {
        return JudgeUsage(facts);
    }
    facts.certificateKeyUsage = CertificateKeyUsage(session, id);
    auto privateKey = FindById(session, CKO_PRIVATE_KEY, id);
    if (!privateKey && NeedsPrivateKey(facts)) {
        session.Login();
        privateKey = FindById(session, CKO_PRIVATE_KEY, id);
    }
    if (privateKey) {
        facts.privateDecrypt = FlagOf(session, *privateKey, CKA_DECRYPT);
        facts.privateSign = FlagOf(session, *privateKey, CKA_SIGN);
    }
    return JudgeUsage(facts);
}

ByteArray LabelBytes(const std::string& label) {
    return {label.begin(), label.end()};
}

}  // namespace

std::uint32_t CurrentProviderFailure() noexcept {
    try {
        throw;
    } catch (const ProviderError& e) {
        return e.HResult();
    } catch (const p11::Error& e) {
        return p11::HResultOf(e.Value());
    } catch (const Orvel::ArgumentException&) {
        return 0x80070057u;  // E_INVALIDARG: a name that is not valid text
    } catch (const std::bad_alloc&) {
        return 0x8007000Eu;
    } catch (...) {
        return 0x80090020u;  // NTE_FAIL
    }
}

ContainerName ParseContainerName(std::u16string_view name) {
    if (name.substr(0, kReaderPrefix.size()) != kReaderPrefix) {
        return {std::nullopt, std::u16string(name)};
    }
    const std::u16string_view rest = name.substr(kReaderPrefix.size());
    const std::size_t slash = rest.find(u'\\');
    if (slash == std::u16string_view::npos) {
        return {std::u16string(rest), {}};
    }
    return {std::u16string(rest.substr(0, slash)), std::u16string(rest.substr(slash + 1))};
}

KeyContainer KeyContainer::Acquire(std::u16string_view name, std::uint32_t flags,
                                   bool forKeyGeneration) {
    const ContainerName parsed = ParseContainerName(name);
    // The reader-level handle only reads, so a write-protected card can still offer its
    // certificates; a container handle may write (key generation, certificate import).
    const bool readerLevel = (flags & kContainerOptional) != 0;
    KeyContainer provider(std::make_unique<p11::Session>(FindToken(parsed.reader), !readerLevel));
    if (readerLevel && parsed.container.empty()) {
        return provider;
    }
    const auto names = provider.ContainerNames();
    if (parsed.container.empty()) {
        if (!names.empty()) {
            provider.container_ = names.front();
        } else if (forKeyGeneration) {
            provider.container_ = kDefaultContainer;
        } else {
            throw ProviderError(kBadKeyset);
        }
        return provider;
    }
    provider.container_ = Orvel::Utf16ToUtf8(parsed.container);
    if (!forKeyGeneration &&
        std::find(names.begin(), names.end(), provider.container_) == names.end()) {
        throw ProviderError(kBadKeyset);
    }
    return provider;
}

std::vector<std::string> KeyContainer::ContainerNames() {
    CK_OBJECT_CLASS keyClass = CKO_PUBLIC_KEY;
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &keyClass, sizeof keyClass}};
    std::set<std::string> names;
    for (CK_OBJECT_HANDLE key : session_->Find(match)) {
        ByteArray label;
        if (session_->Attribute(key, CKA_LABEL, label) && !label.empty()) {
            names.emplace(label.begin(), label.end());
        }
    }
    return {names.begin(), names.end()};
}

std::optional<CK_OBJECT_HANDLE> KeyContainer::PublicKey(const std::string& container,
                                                        std::uint32_t keySpec) {
    if (keySpec != kAtKeyExchange && keySpec != kAtSignature) {
        throw ProviderError(kBadAlgId);
    }
    CK_OBJECT_CLASS keyClass = CKO_PUBLIC_KEY;
    ByteArray label = LabelBytes(container);
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                            {CKA_LABEL, label.data(), label.size()}};
    for (CK_OBJECT_HANDLE key : session_->Find(match)) {
        if (ServesKeySpec(UsageOf(*session_, key), keySpec)) {
            return key;
        }
    }
    return std::nullopt;
}

CK_OBJECT_HANDLE KeyContainer::RequirePublicKey(std::uint32_t keySpec) {
    const auto key = PublicKey(container_, keySpec);
    if (!key) {
        throw ProviderError(kNoKey);
    }
    return *key;
}

const std::string& KeyContainer::TokenLabel() const noexcept {
    return session_->TokenOf().label;
}

void KeyContainer::DestroyPair(const ByteArray& id) {
    ByteArray match_id = id;
    CK_ATTRIBUTE match[] = {{CKA_ID, match_id.data(), match_id.size()}};
    for (CK_OBJECT_HANDLE object : session_->Find(match)) {
        p11::Check("C_DestroyObject", session_->F()->C_DestroyObject(session_->Handle(), object));
    }
}

void KeyContainer::GenerateKeyPair(std::uint32_t keySpec, std::uint32_t flags) {
    if (container_.empty()) {
        throw ProviderError(kBadKeyset);
    }
    const auto previous = PublicKey(container_, keySpec);
    const std::uint32_t requested = flags >> 16;
    const CK_ULONG bits = requested == 0 ? kDefaultBits : requested;
    const p11::Token& token = session_->TokenOf();
    CK_MECHANISM_INFO info{};
    p11::Check("C_GetMechanismInfo",
               token.module->C_GetMechanismInfo(token.slot, CKM_RSA_PKCS_KEY_PAIR_GEN, &info));
    if (bits < info.ulMinKeySize || bits > info.ulMaxKeySize) {
        throw ProviderError(kBadFlags);
    }
    session_->Login();

    const bool exchange = keySpec == kAtKeyExchange;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    CK_BBOOL* usage = exchange ? &yes : &no;
    CK_ULONG modulusBits = bits;
    std::uint8_t publicExponent[] = {0x01, 0x00, 0x01};
    ByteArray label = LabelBytes(container_);
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &no, sizeof no},
        {CKA_LABEL, label.data(), label.size()},
        {CKA_VERIFY, &yes, sizeof yes},
        {CKA_ENCRYPT, usage, sizeof *usage},
        {CKA_WRAP, usage, sizeof *usage},
        {CKA_MODULUS_BITS, &modulusBits, sizeof modulusBits},
        {CKA_PUBLIC_EXPONENT, publicExponent, sizeof publicExponent},
    };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_TOKEN, &yes, sizeof yes},           {CKA_PRIVATE, &yes, sizeof yes},
        {CKA_SENSITIVE, &yes, sizeof yes},       {CKA_EXTRACTABLE, &no, sizeof no},
        {CKA_LABEL, label.data(), label.size()}, {CKA_SIGN, &yes, sizeof yes},
        {CKA_DECRYPT, usage, sizeof *usage},     {CKA_UNWRAP, usage, sizeof *usage},
    };
    CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
    ByteArray oldId;
    if (previous) {
        session_->Attribute(*previous, CKA_ID, oldId);
    }
    p11::Check("C_GenerateKeyPair",
               session_->F()->C_GenerateKeyPair(
                   session_->Handle(), &mechanism, publicTemplate, std::size(publicTemplate),
                   privateTemplate, std::size(privateTemplate), &publicKey, &privateKey));
    // The new pair gets its CKA_ID while the old pair still exists; only a complete new pair
    // replaces the old one, and any failure before that removes the new pair and keeps the old.
    try {
        // The pair's CKA_ID is the SHA-1 of its modulus, so certificates find it as OpenSC's do.
        const ByteArray modulus = session_->Attribute(publicKey, CKA_MODULUS);
        ByteArray id(SHA_DIGEST_LENGTH);
        SHA1(modulus.data(), modulus.size(), id.data());
        CK_ATTRIBUTE idAttribute{CKA_ID, id.data(), id.size()};
        p11::Check("C_SetAttributeValue", session_->F()->C_SetAttributeValue(
                                              session_->Handle(), publicKey, &idAttribute, 1));
        p11::Check("C_SetAttributeValue", session_->F()->C_SetAttributeValue(
                                              session_->Handle(), privateKey, &idAttribute, 1));
    } catch (...) {
        session_->F()->C_DestroyObject(session_->Handle(), privateKey);
        session_->F()->C_DestroyObject(session_->Handle(), publicKey);
        throw;
    }
    if (!oldId.empty()) {
        DestroyPair(oldId);
    } else if (previous) {
        p11::Check("C_DestroyObject",
                   session_->F()->C_DestroyObject(session_->Handle(), *previous));
    }
}

ByteArray KeyContainer::PublicKeyInfo(std::uint32_t keySpec) {
    const CK_OBJECT_HANDLE key = RequirePublicKey(keySpec);
    return der::RsaPublicKeyInfo(session_->Attribute(key, CKA_MODULUS),
                                 session_->Attribute(key, CKA_PUBLIC_EXPONENT));
}

ByteArray KeyContainer::SignSha1(std::uint32_t keySpec, std::span<const std::uint8_t> data) {
    ByteArray id = session_->Attribute(RequirePublicKey(keySpec), CKA_ID);
    session_->Login();
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                            {CKA_ID, id.data(), id.size()}};
    const auto keys = session_->Find(match);
    if (keys.empty()) {
        throw ProviderError(kNoKey);
    }
    ByteArray digestInfo(std::begin(kSha1DigestInfo), std::end(kSha1DigestInfo));
    const std::size_t prefix = digestInfo.size();
    digestInfo.resize(prefix + SHA_DIGEST_LENGTH);
    SHA1(data.data(), data.size(), digestInfo.data() + prefix);
    return session_->Sign(keys.front(), CKM_RSA_PKCS, digestInfo);
}

void KeyContainer::SetCertificate(std::uint32_t keySpec, std::span<const std::uint8_t> der) {
    const CK_OBJECT_HANDLE key = RequirePublicKey(keySpec);
    const unsigned char* cursor = der.data();
    auto certificate =
        Orvel::OpenSsl::Own<X509_free>(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (certificate == nullptr || cursor != der.data() + der.size()) {
        throw ProviderError(kBadData);
    }
    // The certificate's key must be the pair's: compare the public key information.
    const ByteArray ours = PublicKeyInfo(keySpec);
    unsigned char* theirs = nullptr;
    const int theirLength = i2d_PUBKEY(X509_get0_pubkey(certificate.get()), &theirs);
    const bool same = theirLength > 0 && static_cast<std::size_t>(theirLength) == ours.size() &&
                      std::equal(ours.begin(), ours.end(), theirs);
    OPENSSL_free(theirs);
    if (!same) {
        throw ProviderError(kBadPublicKey);
    }
    auto encode = [](auto* object, auto i2d) {
        unsigned char* bytes = nullptr;
        const int length = i2d(object, &bytes);
        ByteArray out;
        if (length > 0) {
            out.assign(bytes, bytes + length);
        }
        OPENSSL_free(bytes);
        return out;
    };
    ByteArray subject = encode(X509_get_subject_name(certificate.get()), i2d_X509_NAME);
    ByteArray issuer = encode(X509_get_issuer_name(certificate.get()), i2d_X509_NAME);
    ByteArray serial = encode(X509_get_serialNumber(certificate.get()), i2d_ASN1_INTEGER);

    session_->Login();
    ByteArray id = session_->Attribute(key, CKA_ID);
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &certClass, sizeof certClass},
                            {CKA_ID, id.data(), id.size()}};
    const auto older = session_->Find(match);
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    ByteArray label = LabelBytes(container_);
    ByteArray value(der.begin(), der.end());
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &certClass, sizeof certClass},
        {CKA_CERTIFICATE_TYPE, &certType, sizeof certType},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &no, sizeof no},
        {CKA_LABEL, label.data(), label.size()},
        {CKA_ID, id.data(), id.size()},
        {CKA_SUBJECT, subject.data(), subject.size()},
        {CKA_ISSUER, issuer.data(), issuer.size()},
        {CKA_SERIAL_NUMBER, serial.data(), serial.size()},
        {CKA_VALUE, value.data(), value.size()},
    };
    CK_OBJECT_HANDLE created = CK_INVALID_HANDLE;
    p11::Check("C_CreateObject", session_->F()->C_CreateObject(session_->Handle(), attributes,
                                                               std::size(attributes), &created));
    for (CK_OBJECT_HANDLE old : older) {
        p11::Check("C_DestroyObject", session_->F()->C_DestroyObject(session_->Handle(), old));
    }
    KeepInUserStore(der, id);
}

void KeyContainer::KeepInUserStore(std::span<const std::uint8_t> der,
                                   const ByteArray& id) noexcept {
    try {
        x509::X509Certificate certificate(ByteArray(der.begin(), der.end()));
        certificate.SetKeyProviderLink(p11::FormatKeyLink(p11::LinkTo(session_->TokenOf(), id)));
        x509::X509Store my(x509::kStoreCurrentUser, u"My");
        my.Open(0);
        my.Add(certificate, x509::AddDisposition::ReplaceExisting);
        my.Close();
    } catch (const Orvel::Exception& e) {
        if (Orvel::TraceEnabled()) {
            Orvel::Trace(Orvel::TraceLevel::Warning,
                         u"The token certificate was not added to \"My\": " + e.Message());
        }
    } catch (...) {
    }
}

ByteArray KeyContainer::CertificateOf(const std::string& container, std::uint32_t keySpec,
                                      std::size_t capacity, ByteArray* id) {
    const auto names = ContainerNames();
    if (std::find(names.begin(), names.end(), container) == names.end()) {
        throw ProviderError(kBadKeyset);
    }
    const auto key = PublicKey(container, keySpec);
    if (!key) {
        throw ProviderError(kNoKey);
    }
    ByteArray keyId = session_->Attribute(*key, CKA_ID);
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &certClass, sizeof certClass},
                            {CKA_CERTIFICATE_TYPE, &certType, sizeof certType},
                            {CKA_ID, keyId.data(), keyId.size()}};
    const auto found = session_->Find(match);
    ByteArray value;
    if (found.empty() || !session_->Attribute(found.front(), CKA_VALUE, value)) {
        throw ProviderError(kNoSuchCertificate);
    }
    if (value.size() > capacity) {
        throw ProviderError(kMoreData);
    }
    if (id != nullptr) {
        *id = std::move(keyId);
    }
    return value;
}

}  // namespace carvix::pki
