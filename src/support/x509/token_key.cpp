// OpenSSL 3 on this platform has no PKCS#11 provider; a key whose private half stays on a
// token is an RSA key with an RSA_METHOD of our own whose private operations call the token.
// That interface is deprecated in OpenSSL 3 but still the supported way for keys held
// outside the library ("foreign" keys take the legacy code path in EVP).
#define OPENSSL_SUPPRESS_DEPRECATED

#include "carvix/support/token_key.h"

#include <openssl/bn.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace Orvel::Pkcs11 {
namespace {

namespace x509 = Security::Cryptography::X509;

struct KeyHolder {
    std::unique_ptr<Session> session;
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
};

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
        const ByteArray out =
            holder->session->Sign(holder->key, mechanism, {from, static_cast<std::size_t>(length)});
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
        const ByteArray out = holder->session->Decrypt(holder->key, mechanism,
                                                       {from, static_cast<std::size_t>(length)});
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
        if (LinkMatches(link, token.info, &token.slotInfo, &token.moduleInfo)) {
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
    holder->session = std::make_unique<Session>(FindToken(link), false);
    holder->session->Login();
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    ByteArray id = link.id;
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                            {CKA_ID, id.data(), id.size()}};
    const auto keys = holder->session->Find(match);
    if (keys.empty()) {
        throw Error("C_FindObjects", CKR_KEY_HANDLE_INVALID);
    }
    holder->key = keys.front();
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
