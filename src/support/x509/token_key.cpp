// OpenSSL 3 on this platform has no PKCS#11 provider; a key whose private half stays on a
// token is an RSA key with an RSA_METHOD of our own whose private operations call the token.
// That interface is deprecated in OpenSSL 3 but still the supported way for keys held
// outside the library ("foreign" keys take the legacy code path in EVP).
//
// OpenSSL pads PSS signatures and OAEP encryption itself and would hand the RSA_METHOD a
// raw block (CKM_RSA_X_509), which many tokens refuse. So token keys also carry a key-type
// method of their own (through an engine attached to those keys alone) that sees the padding
// and its parameters first and runs CKM_RSA_PKCS_PSS or CKM_RSA_PKCS_OAEP on the token when
// the token offers them (C_GetMechanismInfo); otherwise OpenSSL's own padding goes on.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "carvix/support/token_key.h"

#include <openssl/bn.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>

#include <unistd.h>

namespace Orvel::Pkcs11 {
namespace {

namespace x509 = Security::Cryptography::X509;

// The token key behind an OpenSSL key: its link, and the logged-in session it runs on, which
// is opened again when the token was taken out and put back, the session was lost, or the
// process forked (a child must not use its parent's sessions).
struct KeyHolder {
    KeyLink link;
    std::unique_ptr<Session> session;
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    pid_t pid = 0;
    std::mutex lock;  // one operation at a time on the session
};

CK_OBJECT_HANDLE FindKey(Session& session, const KeyLink& link) {
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    ByteArray id = link.id;
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                            {CKA_ID, id.data(), id.size()}};
    for (CK_OBJECT_HANDLE key : session.Find(match)) {
        ByteArray label;
        session.Attribute(key, CKA_LABEL, label);
        if (LinkMatchesObjectLabel(link, label)) {
            return key;
        }
    }
    throw Error("C_FindObjects", CKR_KEY_HANDLE_INVALID);
}

void Open(KeyHolder& holder) {
    if (holder.session != nullptr && holder.pid != getpid()) {
        holder.session->Abandon();
    }
    holder.session.reset();
    holder.pid = getpid();
    auto session = std::make_unique<Session>(FindToken(holder.link), false);
    session->Login();
    holder.key = FindKey(*session, holder.link);
    holder.session = std::move(session);
}

// Results after which the session, not the request, is at fault.
bool SessionLost(CK_RV rv) {
    return rv == CKR_DEVICE_REMOVED || rv == CKR_SESSION_HANDLE_INVALID ||
           rv == CKR_SESSION_CLOSED || rv == CKR_TOKEN_NOT_PRESENT ||
           rv == CKR_KEY_HANDLE_INVALID || rv == CKR_OBJECT_HANDLE_INVALID ||
           rv == CKR_USER_NOT_LOGGED_IN || rv == CKR_CRYPTOKI_NOT_INITIALIZED;
}

// Runs one operation with the key, opening the session again (once) when it was lost.
template <typename Operation>
ByteArray Run(KeyHolder& holder, Operation operation) {
    std::lock_guard guard(holder.lock);
    if (holder.session == nullptr || holder.pid != getpid()) {
        Open(holder);
    } else {
        try {
            return operation(*holder.session, holder.key);
        } catch (const Error& e) {
            if (!SessionLost(e.Value())) {
                throw;
            }
        }
        Open(holder);
    }
    return operation(*holder.session, holder.key);
}

int HolderIndex() {
    static const int index = RSA_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

KeyHolder* HolderOf(RSA* rsa) {
    return static_cast<KeyHolder*>(RSA_get_ex_data(rsa, HolderIndex()));
}

CK_MECHANISM_TYPE MechanismFor(int padding) {
    switch (padding) {
        case RSA_PKCS1_PADDING:
            return CKM_RSA_PKCS;
        case RSA_NO_PADDING:
            return CKM_RSA_X_509;
        default:
            return CKM_VENDOR_DEFINED;
    }
}

// Private "encryption" is signing: the input is a DigestInfo (PKCS#1) or an already padded
// block (raw).
int TokenPrivateEncrypt(int length, const unsigned char* from, unsigned char* to, RSA* rsa,
                        int padding) {
    KeyHolder* holder = HolderOf(rsa);
    const CK_MECHANISM_TYPE mechanism = MechanismFor(padding);
    if (holder == nullptr || mechanism == CKM_VENDOR_DEFINED) {
        return -1;
    }
    try {
        const ByteArray out = Run(*holder, [&](Session& session, CK_OBJECT_HANDLE key) {
            return session.Sign(key, mechanism, {from, static_cast<std::size_t>(length)});
        });
        if (out.size() > static_cast<std::size_t>(RSA_size(rsa))) {
            return -1;
        }
        std::memcpy(to, out.data(), out.size());
        return static_cast<int>(out.size());
    } catch (...) {
        return -1;
    }
}

int TokenPrivateDecrypt(int length, const unsigned char* from, unsigned char* to, RSA* rsa,
                        int padding) {
    KeyHolder* holder = HolderOf(rsa);
    const CK_MECHANISM_TYPE mechanism = MechanismFor(padding);
    if (holder == nullptr || mechanism == CKM_VENDOR_DEFINED) {
        return -1;
    }
    try {
        const ByteArray out = Run(*holder, [&](Session& session, CK_OBJECT_HANDLE key) {
            return session.Decrypt(key, mechanism, {from, static_cast<std::size_t>(length)});
        });
        if (out.size() > static_cast<std::size_t>(RSA_size(rsa))) {
            return -1;
        }
        std::memcpy(to, out.data(), out.size());
        return static_cast<int>(out.size());
    } catch (...) {
        return -1;
    }
}

int TokenFinish(RSA* rsa) {
    delete HolderOf(rsa);
    RSA_set_ex_data(rsa, HolderIndex(), nullptr);
    // The default method's own clean-up frees the Montgomery contexts that public-key
    // operations cached on the key; replacing finish must not skip it.
    const auto defaultFinish = RSA_meth_get_finish(RSA_PKCS1_OpenSSL());
    return defaultFinish != nullptr ? defaultFinish(rsa) : 1;
}

const RSA_METHOD* TokenMethod() {
    static RSA_METHOD* method = [] {
        RSA_METHOD* m = RSA_meth_dup(RSA_PKCS1_OpenSSL());
        RSA_meth_set1_name(m, "carvix token key");
        RSA_meth_set_priv_enc(m, TokenPrivateEncrypt);
        RSA_meth_set_priv_dec(m, TokenPrivateDecrypt);
        RSA_meth_set_finish(m, TokenFinish);
        return m;
    }();
    return method;
}

// ---- PSS and OAEP as token mechanisms ----

using SignFn = int (*)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);
using SignInitFn = int (*)(EVP_PKEY_CTX*);
SignFn defaultSign = nullptr;
SignFn defaultDecrypt = nullptr;

KeyHolder* HolderOf(EVP_PKEY_CTX* ctx) {
    EVP_PKEY* key = EVP_PKEY_CTX_get0_pkey(ctx);
    const RSA* rsa = key != nullptr ? EVP_PKEY_get0_RSA(key) : nullptr;
    return rsa != nullptr ? HolderOf(const_cast<RSA*>(rsa)) : nullptr;
}

// The PKCS#11 hash and MGF1 of an OpenSSL digest; false for one PKCS#11 does not name.
bool HashOf(const EVP_MD* md, CK_MECHANISM_TYPE& hash, CK_RSA_PKCS_MGF_TYPE& mgf) {
    switch (md != nullptr ? EVP_MD_get_type(md) : NID_undef) {
        case NID_sha1:
            hash = CKM_SHA_1;
            mgf = CKG_MGF1_SHA1;
            return true;
        case NID_sha224:
            hash = CKM_SHA224;
            mgf = CKG_MGF1_SHA224;
            return true;
        case NID_sha256:
            hash = CKM_SHA256;
            mgf = CKG_MGF1_SHA256;
            return true;
        case NID_sha384:
            hash = CKM_SHA384;
            mgf = CKG_MGF1_SHA384;
            return true;
        case NID_sha512:
            hash = CKM_SHA512;
            mgf = CKG_MGF1_SHA512;
            return true;
        default:
            return false;
    }
}

// Runs a mechanism with parameters; none when the token does not offer it or refuses its
// parameters, so that OpenSSL's own padding takes over.
template <typename Operation>
std::optional<ByteArray> OnToken(KeyHolder& holder, CK_MECHANISM_TYPE type, CK_FLAGS use,
                                 Operation operation) {
    try {
        return Run(holder, [&](Session& session, CK_OBJECT_HANDLE key) {
            if (!session.Offers(type, use)) {
                throw Error("C_GetMechanismInfo", CKR_MECHANISM_INVALID);
            }
            return operation(session, key);
        });
    } catch (const Error& e) {
        if (e.Value() == CKR_MECHANISM_INVALID || e.Value() == CKR_MECHANISM_PARAM_INVALID) {
            return std::nullopt;
        }
        throw;
    }
}

int CopyOut(const ByteArray& result, unsigned char* out, size_t* outLength) {
    if (result.size() > *outLength) {
        return -1;
    }
    std::memcpy(out, result.data(), result.size());
    *outLength = result.size();
    return 1;
}

int TokenSign(EVP_PKEY_CTX* ctx, unsigned char* signature, size_t* length,
              const unsigned char* hash, size_t hashLength) {
    KeyHolder* holder = HolderOf(ctx);
    int padding = RSA_PKCS1_PADDING;
    const EVP_MD* md = nullptr;
    const EVP_MD* mgfMd = nullptr;
    int saltLength = RSA_PSS_SALTLEN_DIGEST;
    if (holder == nullptr || EVP_PKEY_CTX_get_rsa_padding(ctx, &padding) <= 0 ||
        padding != RSA_PKCS1_PSS_PADDING || EVP_PKEY_CTX_get_signature_md(ctx, &md) <= 0 ||
        EVP_PKEY_CTX_get_rsa_mgf1_md(ctx, &mgfMd) <= 0 ||
        EVP_PKEY_CTX_get_rsa_pss_saltlen(ctx, &saltLength) <= 0) {
        return defaultSign(ctx, signature, length, hash, hashLength);
    }
    CK_RSA_PKCS_PSS_PARAMS params{};
    CK_RSA_PKCS_MGF_TYPE ignored = 0;
    if (!HashOf(md, params.hashAlg, ignored) || !HashOf(mgfMd, ignored, params.mgf) ||
        hashLength != static_cast<size_t>(EVP_MD_get_size(md))) {
        return defaultSign(ctx, signature, length, hash, hashLength);
    }
    const RSA* rsa = EVP_PKEY_get0_RSA(EVP_PKEY_CTX_get0_pkey(ctx));
    const int bits = RSA_bits(rsa);
    const long longest = (bits - 1 + 7) / 8 - static_cast<long>(hashLength) - 2;
    // A negative length asks for the digest's length (-1, -4) or the longest salt (-2, -3).
    params.sLen = saltLength >= 0                                            ? saltLength
                  : saltLength == RSA_PSS_SALTLEN_DIGEST || saltLength == -4 ? hashLength
                                                                             : longest;
    if (signature == nullptr) {
        *length = static_cast<size_t>(RSA_size(rsa));
        return 1;
    }
    try {
        const auto result = OnToken(
            *holder, CKM_RSA_PKCS_PSS, CKF_SIGN, [&](Session& session, CK_OBJECT_HANDLE key) {
                CK_MECHANISM mechanism{CKM_RSA_PKCS_PSS, &params, sizeof params};
                return session.Sign(key, mechanism, {hash, hashLength});
            });
        if (!result) {
            return defaultSign(ctx, signature, length, hash, hashLength);
        }
        return CopyOut(*result, signature, length);
    } catch (...) {
        return -1;
    }
}

int TokenDecrypt(EVP_PKEY_CTX* ctx, unsigned char* out, size_t* outLength, const unsigned char* in,
                 size_t inLength) {
    KeyHolder* holder = HolderOf(ctx);
    int padding = RSA_PKCS1_PADDING;
    const EVP_MD* md = nullptr;
    const EVP_MD* mgfMd = nullptr;
    if (holder == nullptr || EVP_PKEY_CTX_get_rsa_padding(ctx, &padding) <= 0 ||
        padding != RSA_PKCS1_OAEP_PADDING || EVP_PKEY_CTX_get_rsa_oaep_md(ctx, &md) <= 0 ||
        EVP_PKEY_CTX_get_rsa_mgf1_md(ctx, &mgfMd) <= 0) {
        return defaultDecrypt(ctx, out, outLength, in, inLength);
    }
    CK_RSA_PKCS_OAEP_PARAMS params{};
    CK_RSA_PKCS_MGF_TYPE ignored = 0;
    if (!HashOf(md, params.hashAlg, ignored) || !HashOf(mgfMd, ignored, params.mgf)) {
        return defaultDecrypt(ctx, out, outLength, in, inLength);
    }
    unsigned char* label = nullptr;
    const int labelLength = EVP_PKEY_CTX_get0_rsa_oaep_label(ctx, &label);
    params.source = CKZ_DATA_SPECIFIED;
    params.pSourceData = labelLength > 0 ? label : nullptr;
    params.ulSourceDataLen = labelLength > 0 ? static_cast<CK_ULONG>(labelLength) : 0;
    if (out == nullptr) {
        *outLength = static_cast<size_t>(RSA_size(EVP_PKEY_get0_RSA(EVP_PKEY_CTX_get0_pkey(ctx))));
        return 1;
    }
    try {
        const auto result = OnToken(
            *holder, CKM_RSA_PKCS_OAEP, CKF_DECRYPT, [&](Session& session, CK_OBJECT_HANDLE key) {
                CK_MECHANISM mechanism{CKM_RSA_PKCS_OAEP, &params, sizeof params};
                return session.Decrypt(key, mechanism, {in, inLength});
            });
        if (!result) {
            return defaultDecrypt(ctx, out, outLength, in, inLength);
        }
        return CopyOut(*result, out, outLength);
    } catch (...) {
        return -1;
    }
}

EVP_PKEY_METHOD* TokenKeyTypeMethod() {
    static EVP_PKEY_METHOD* method = [] {
        EVP_PKEY_METHOD* m = EVP_PKEY_meth_new(EVP_PKEY_RSA, EVP_PKEY_FLAG_AUTOARGLEN);
        if (m == nullptr) {
            return m;
        }
        EVP_PKEY_meth_copy(m, EVP_PKEY_meth_find(EVP_PKEY_RSA));
        SignInitFn signInit = nullptr;
        SignInitFn decryptInit = nullptr;
        EVP_PKEY_meth_get_sign(m, &signInit, &defaultSign);
        EVP_PKEY_meth_get_decrypt(m, &decryptInit, &defaultDecrypt);
        EVP_PKEY_meth_set_sign(m, signInit, TokenSign);
        EVP_PKEY_meth_set_decrypt(m, decryptInit, TokenDecrypt);
        return m;
    }();
    return method;
}

int KeyTypeMethods(ENGINE*, EVP_PKEY_METHOD** method, const int** nids, int nid) {
    static const int kNids[] = {EVP_PKEY_RSA};
    if (method == nullptr) {
        *nids = kNids;
        return 1;
    }
    *method = nid == EVP_PKEY_RSA ? TokenKeyTypeMethod() : nullptr;
    return *method != nullptr ? 1 : 0;
}

// The engine exists only to carry the key-type method to token keys (EVP_PKEY_set1_engine);
// it is never registered, so no other key sees it.
ENGINE* TokenEngine() {
    static ENGINE* engine = [] {
        ENGINE* e = ENGINE_new();
        if (e != nullptr && (ENGINE_set_id(e, "carvix-token-keys") != 1 ||
                             ENGINE_set_name(e, "carvix token keys") != 1 ||
                             ENGINE_set_pkey_meths(e, KeyTypeMethods) != 1)) {
            ENGINE_free(e);
            e = nullptr;
        }
        return e;
    }();
    return engine;
}

BIGNUM* Number(const ByteArray& bytes) {
    return BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
}

}  // namespace

ModuleChoice ModulesOf(const KeyLink& link) {
    return {link.modulePath, link.moduleName};
}

namespace {

// Whether the token shows an object with the CKA_ID (a private key may hide before login,
// its public key or certificate does not).
bool HoldsId(const Token& token, const ByteArray& id) {
    try {
        Session session(token, false);
        ByteArray match_id = id;
        CK_ATTRIBUTE match[] = {{CKA_ID, match_id.data(), match_id.size()}};
        return !session.Find(match).empty();
    } catch (const Error&) {
        return false;
    }
}

}  // namespace

Token FindToken(const KeyLink& link) {
    // Every attribute the link names must match; of several tokens that do (a link without
    // a serial number, tokens of one kind with one label), the one holding the key wins.
    std::vector<Token> matching;
    for (Token& token : AllTokens(ModulesOf(link))) {
        if (LinkMatches(link, token.info, &token.slotInfo, &token.moduleInfo, token.slot)) {
            matching.push_back(std::move(token));
        }
    }
    if (matching.empty()) {
        throw Error("C_GetTokenInfo", CKR_TOKEN_NOT_PRESENT);
    }
    if (matching.size() > 1) {
        for (Token& token : matching) {
            if (HoldsId(token, link.id)) {
                return token;
            }
        }
    }
    return matching.front();
}

OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free> OpenTokenKey(const KeyLink& link) {
    auto holder = std::make_unique<KeyHolder>();
    holder->link = link;
    Open(*holder);
    CK_KEY_TYPE type = 0;
    CK_ATTRIBUTE typeAttribute{CKA_KEY_TYPE, &type, sizeof type};
    Check("C_GetAttributeValue", holder->session->F()->C_GetAttributeValue(
                                     holder->session->Handle(), holder->key, &typeAttribute, 1));
    if (type != CKK_RSA) {
        throw Error("C_GetAttributeValue", CKR_KEY_TYPE_INCONSISTENT);
    }
    const ByteArray modulus = holder->session->Attribute(holder->key, CKA_MODULUS);
    const ByteArray exponent = holder->session->Attribute(holder->key, CKA_PUBLIC_EXPONENT);

    auto rsa = OpenSsl::Own<RSA_free>(RSA_new());
    BIGNUM* n = Number(modulus);
    BIGNUM* e = Number(exponent);
    if (rsa == nullptr || n == nullptr || e == nullptr ||
        RSA_set0_key(rsa.get(), n, e, nullptr) != 1) {
        BN_free(n);
        BN_free(e);
        throw Error("RSA_set0_key", CKR_HOST_MEMORY);
    }
    RSA_set_method(rsa.get(), TokenMethod());
    RSA_set_ex_data(rsa.get(), HolderIndex(), holder.release());
    auto key = OpenSsl::Own<EVP_PKEY_free>(EVP_PKEY_new());
    if (key == nullptr || EVP_PKEY_assign_RSA(key.get(), rsa.get()) != 1) {
        throw Error("EVP_PKEY_assign_RSA", CKR_HOST_MEMORY);
    }
    rsa.release();
    // Without the engine PSS and OAEP still work where the token allows raw RSA.
    if (ENGINE* engine = TokenEngine()) {
        EVP_PKEY_set1_engine(key.get(), engine);
    }
    return key;
}

KeyLink LinkTo(const Token& token, const ByteArray& id) {
    return {token.label, id, token.serial, token.modulePath, {}, {}};
}

std::vector<x509::X509Certificate> TokenCertificates(const TokenChoice& choice) {
    std::vector<x509::X509Certificate> certificates;
    for (Token& token : AllTokens(choice.modules)) {
        if ((!choice.label.empty() && token.label != choice.label) ||
            (!choice.serial.empty() && token.serial != choice.serial)) {
            continue;
        }
        try {
            Session session(token, false);
            std::set<ByteArray> keyIds;
            for (CK_OBJECT_CLASS keyClass : {CKO_PUBLIC_KEY, CKO_PRIVATE_KEY}) {
                CK_ATTRIBUTE match[] = {{CKA_CLASS, &keyClass, sizeof keyClass}};
                for (CK_OBJECT_HANDLE key : session.Find(match)) {
                    ByteArray id;
                    if (session.Attribute(key, CKA_ID, id) && !id.empty()) {
                        keyIds.insert(id);
                    }
                }
            }
            CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
            CK_CERTIFICATE_TYPE certType = CKC_X_509;
            CK_ATTRIBUTE match[] = {{CKA_CLASS, &certClass, sizeof certClass},
                                    {CKA_CERTIFICATE_TYPE, &certType, sizeof certType}};
            for (CK_OBJECT_HANDLE object : session.Find(match)) {
                ByteArray id;
                ByteArray der;
                if (!session.Attribute(object, CKA_ID, id) || keyIds.count(id) == 0 ||
                    !session.Attribute(object, CKA_VALUE, der)) {
                    continue;
                }
                try {
                    x509::X509Certificate certificate(der);
                    certificate.SetKeyProviderLink(FormatKeyLink(LinkTo(token, id)));
                    certificates.push_back(std::move(certificate));
                } catch (...) {
                    // Bytes that are not a certificate are not offered.
                }
            }
        } catch (...) {
            // A token that cannot be read offers nothing.
        }
    }
    return certificates;
}

}  // namespace Orvel::Pkcs11
