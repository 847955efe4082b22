// A PKCS#11 module for tests: it passes every call to another module (SoftHSM2) and, as the
// environment says at each call, behaves like tokens that SoftHSM2 cannot imitate:
//   CARVIX_WRAP_TARGET       the module file calls go to (required)
//   CARVIX_WRAP_TOKEN_FLAGS  hexadecimal CK_TOKEN_INFO flags added to every token's (PIN
//                            state, a protected authentication path)
//   CARVIX_WRAP_PAD_PIN      the PIN that a login without a PIN uses: the PIN pad's entry
//   CARVIX_WRAP_NO_RAW       "1": CKM_RSA_X_509 is refused, as many cards refuse raw RSA
//   CARVIX_WRAP_REFUSE_SET   "1": C_SetAttributeValue fails with CKR_ATTRIBUTE_READ_ONLY
//   CARVIX_WRAP_REMOVED      "1": the token is away (no token present, CKR_DEVICE_REMOVED)
//   CARVIX_WRAP_INSERTION    a number; when it changes the token was taken out and put back:
//                            every session of the real module is closed.
// carvix_wrap_logins() counts C_Login calls, carvix_wrap_mechanisms() lists the mechanisms
// of C_SignInit, C_DecryptInit and C_EncryptInit calls.
#include <p11-kit/pkcs11.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

CK_FUNCTION_LIST* target = nullptr;
CK_FUNCTION_LIST wrapped;
int logins = 0;
std::vector<CK_MECHANISM_TYPE> mechanisms;
std::string insertion;
std::mutex lock;

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

CK_RV LoadTarget() {
    if (target != nullptr) {
        return CKR_OK;
    }
    const char* path = std::getenv("CARVIX_WRAP_TARGET");
    void* library = path != nullptr ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
    auto get = library != nullptr
                   ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"))
                   : nullptr;
    if (get == nullptr || get(&target) != CKR_OK) {
        target = nullptr;
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

// What every call on a token goes through: a changed insertion closes the real sessions, an
// absent token answers CKR_DEVICE_REMOVED.
CK_RV TokenState() {
    std::lock_guard guard(lock);
    const char* now = std::getenv("CARVIX_WRAP_INSERTION");
    const std::string value = now != nullptr ? now : "";
    if (value != insertion) {
        insertion = value;
        CK_ULONG count = 0;
        if (target->C_GetSlotList(CK_TRUE, nullptr, &count) == CKR_OK && count > 0) {
            std::vector<CK_SLOT_ID> slots(count);
            if (target->C_GetSlotList(CK_TRUE, slots.data(), &count) == CKR_OK) {
                for (CK_ULONG i = 0; i < count; ++i) {
                    target->C_CloseAllSessions(slots[i]);
                }
            }
        }
    }
    return Set("CARVIX_WRAP_REMOVED") ? CKR_DEVICE_REMOVED : CKR_OK;
}

bool Refused(CK_MECHANISM_TYPE type) {
    return type == CKM_RSA_X_509 && Set("CARVIX_WRAP_NO_RAW");
}

CK_RV Initialize(CK_VOID_PTR args) {
    const CK_RV rv = LoadTarget();
    if (rv != CKR_OK) {
        return rv;
    }
    const char* now = std::getenv("CARVIX_WRAP_INSERTION");
    insertion = now != nullptr ? now : "";
    return target->C_Initialize(args);
}

CK_RV GetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    if (present == CK_TRUE && Set("CARVIX_WRAP_REMOVED")) {
        *count = 0;
        return CKR_OK;
    }
    return target->C_GetSlotList(present, list, count);
}

CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
    if (Set("CARVIX_WRAP_REMOVED")) {
        return CKR_TOKEN_NOT_PRESENT;
    }
    const CK_RV rv = target->C_GetTokenInfo(slot, info);
    if (rv == CKR_OK) {
        if (const char* flags = std::getenv("CARVIX_WRAP_TOKEN_FLAGS")) {
            info->flags |= std::strtoul(flags, nullptr, 16);
        }
    }
    return rv;
}

CK_RV GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
    std::vector<CK_MECHANISM_TYPE> all(512);
    CK_ULONG total = all.size();
    const CK_RV rv = target->C_GetMechanismList(slot, all.data(), &total);
    if (rv != CKR_OK) {
        return rv;
    }
    all.resize(total);
    std::erase_if(all, Refused);
    if (list != nullptr && *count < all.size()) {
        *count = all.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    if (list != nullptr) {
        std::copy(all.begin(), all.end(), list);
    }
    *count = all.size();
    return CKR_OK;
}

CK_RV GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    return Refused(type) ? CKR_MECHANISM_INVALID : target->C_GetMechanismInfo(slot, type, info);
}

CK_RV OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR app, CK_NOTIFY notify,
                  CK_SESSION_HANDLE_PTR session) {
    if (const CK_RV rv = TokenState(); rv != CKR_OK) {
        return rv;
    }
    return target->C_OpenSession(slot, flags, app, notify, session);
}

CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    if (const CK_RV rv = TokenState(); rv != CKR_OK) {
        return rv;
    }
    {
        std::lock_guard guard(lock);
        ++logins;
    }
    const char* pad = std::getenv("CARVIX_WRAP_PAD_PIN");
    if (pin == nullptr && pad != nullptr) {
        std::string entered = pad;
        return target->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(entered.data()),
                               entered.size());
    }
    return target->C_Login(session, user, pin, length);
}

CK_RV SetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                        CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    if (Set("CARVIX_WRAP_REFUSE_SET")) {
        return CKR_ATTRIBUTE_READ_ONLY;
    }
    return target->C_SetAttributeValue(session, object, attributes, count);
}

CK_RV Noted(CK_MECHANISM_PTR mechanism) {
    if (const CK_RV rv = TokenState(); rv != CKR_OK) {
        return rv;
    }
    std::lock_guard guard(lock);
    mechanisms.push_back(mechanism->mechanism);
    return Refused(mechanism->mechanism) ? CKR_MECHANISM_INVALID : CKR_OK;
}

CK_RV SignInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    const CK_RV rv = Noted(mechanism);
    return rv != CKR_OK ? rv : target->C_SignInit(session, mechanism, key);
}

CK_RV DecryptInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    const CK_RV rv = Noted(mechanism);
    return rv != CKR_OK ? rv : target->C_DecryptInit(session, mechanism, key);
}

CK_RV EncryptInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    const CK_RV rv = Noted(mechanism);
    return rv != CKR_OK ? rv : target->C_EncryptInit(session, mechanism, key);
}

CK_RV Sign(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR signature,
           CK_ULONG_PTR signatureLength) {
    if (const CK_RV rv = TokenState(); rv != CKR_OK) {
        return rv;
    }
    return target->C_Sign(session, data, length, signature, signatureLength);
}

CK_RV Decrypt(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR plain,
              CK_ULONG_PTR plainLength) {
    if (const CK_RV rv = TokenState(); rv != CKR_OK) {
        return rv;
    }
    return target->C_Decrypt(session, data, length, plain, plainLength);
}

CK_RV FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR match, CK_ULONG count) {
    if (const CK_RV rv = TokenState(); rv != CKR_OK) {
        return rv;
    }
    return target->C_FindObjectsInit(session, match, count);
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info) {
    if (const CK_RV rv = TokenState(); rv != CKR_OK) {
        return rv;
    }
    return target->C_GetSessionInfo(session, info);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (const CK_RV rv = LoadTarget(); rv != CKR_OK) {
        return rv;
    }
    wrapped = *target;
    wrapped.C_Initialize = Initialize;
    wrapped.C_GetFunctionList = C_GetFunctionList;
    wrapped.C_GetSlotList = GetSlotList;
    wrapped.C_GetTokenInfo = GetTokenInfo;
    wrapped.C_GetMechanismList = GetMechanismList;
    wrapped.C_GetMechanismInfo = GetMechanismInfo;
    wrapped.C_OpenSession = OpenSession;
    wrapped.C_Login = Login;
    wrapped.C_SetAttributeValue = SetAttributeValue;
    wrapped.C_SignInit = SignInit;
    wrapped.C_DecryptInit = DecryptInit;
    wrapped.C_EncryptInit = EncryptInit;
    wrapped.C_Sign = Sign;
    wrapped.C_Decrypt = Decrypt;
    wrapped.C_FindObjectsInit = FindObjectsInit;
    wrapped.C_GetSessionInfo = GetSessionInfo;
    *list = &wrapped;
    return CKR_OK;
}

__attribute__((visibility("default"))) int carvix_wrap_logins() {
    std::lock_guard guard(lock);
    return logins;
}

__attribute__((visibility("default"))) std::size_t carvix_wrap_mechanisms(CK_ULONG* out,
                                                                          std::size_t capacity) {
    std::lock_guard guard(lock);
    for (std::size_t i = 0; i < mechanisms.size() && i < capacity; ++i) {
        out[i] = mechanisms[i];
    }
    return mechanisms.size();
}

}  // extern "C"
