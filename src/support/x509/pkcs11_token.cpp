#include "carvix/support/pkcs11_token.h"

#include "carvix/support/card_hold.h"
#include "carvix/support/trace.h"
#include "carvix/support/unicode.h"

#include <openssl/crypto.h>
#include <p11-kit/p11-kit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include <unistd.h>

namespace Orvel::Pkcs11 {
namespace {

std::string Describe(const char* operation, CK_RV rv) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed with CKR 0x%08lX", operation, rv);
    return text;
}

std::mutex& PromptLock() {
    static std::mutex lock;
    return lock;
}

PinStatePrompt& Prompt() {
    static PinStatePrompt prompt;
    return prompt;
}

PinPadNotice& PadNotice() {
    static PinPadNotice notice;
    return notice;
}

std::uint32_t StateOf(CK_FLAGS flags) {
    return ((flags & CKF_USER_PIN_COUNT_LOW) != 0 ? kPinCountLow : 0u) |
           ((flags & CKF_USER_PIN_FINAL_TRY) != 0 ? kPinFinalTry : 0u) |
           ((flags & CKF_USER_PIN_LOCKED) != 0 ? kPinLocked : 0u);
}

// Closes the PIN-pad notice however the login ends.
class PadNoticeShown {
  public:
    explicit PadNoticeShown(const std::u16string& label) {
        PinPadNotice notice;
        {
            std::lock_guard guard(PromptLock());
            notice = PadNotice();
        }
        if (notice) {
            close_ = notice(label);
        }
    }
    ~PadNoticeShown() {
        if (close_) {
            close_();
        }
    }
    PadNoticeShown(const PadNoticeShown&) = delete;
    PadNoticeShown& operator=(const PadNoticeShown&) = delete;

  private:
    std::function<void()> close_;
};

// The longest PIN we pass on; longer answers are a mistake of the prompt.
constexpr std::size_t kLongestPin = 256;

}  // namespace

Error::Error(const char* operation, CK_RV rv)
    : std::runtime_error(Describe(operation, rv)), rv_(rv) {}

void Check(const char* operation, CK_RV rv) {
    if (rv != CKR_OK) {
        throw Error(operation, rv);
    }
}

SecretText::~SecretText() {
    Clear();
}

void SecretText::Assign(const char* data, std::size_t length) {
    Clear();
    bytes_.assign(data, data + length);
}

void SecretText::Clear() noexcept {
    if (!bytes_.empty()) {
        OPENSSL_cleanse(bytes_.data(), bytes_.size());
    }
    bytes_.clear();
    bytes_.shrink_to_fit();
}

PinStatePrompt SetPinStatePrompt(PinStatePrompt prompt) {
    std::lock_guard guard(PromptLock());
    PinStatePrompt previous = std::move(Prompt());
    Prompt() = std::move(prompt);
    return previous;
}

void SetPinPrompt(PinPrompt prompt) {
    if (!prompt) {
        SetPinStatePrompt({});
        return;
    }
    SetPinStatePrompt([prompt = std::move(prompt)](const PinRequest& request, SecretText& pin) {
        return (request.state & kPinLocked) == 0 && prompt(request.tokenLabel, pin);
    });
}

void SetPinPadNotice(PinPadNotice notice) {
    std::lock_guard guard(PromptLock());
    PadNotice() = std::move(notice);
}

std::string Trimmed(const unsigned char* field, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

Modules::~Modules() {
    if (registered_ != nullptr) {
        p11_kit_modules_finalize_and_release(registered_);
        return;
    }
    for (CK_FUNCTION_LIST* module : modules_) {
        p11_kit_module_finalize(module);
        p11_kit_module_release(module);
    }
}

namespace {

std::string Key(const ModuleChoice& choice) {
    if (choice.Everything()) {
        return "*";
    }
    return choice.path.empty() ? "name:" + choice.name : "path:" + choice.path;
}

// A module named by the name p11-kit registered it under: the registered modules are loaded
// (opened, not initialised), the one asked for is kept and the others are let go again.
CK_FUNCTION_LIST* LoadRegisteredByName(const std::string& name) {
    CK_FUNCTION_LIST** registered = p11_kit_modules_load(nullptr, 0);
    if (registered == nullptr) {
        throw Error("p11_kit_modules_load", CKR_GENERAL_ERROR);
    }
    CK_FUNCTION_LIST* chosen = p11_kit_module_for_name(registered, name.c_str());
    if (chosen == nullptr) {
        p11_kit_modules_release(registered);
        throw Error("p11_kit_module_for_name", CKR_TOKEN_NOT_PRESENT);
    }
    char* file = p11_kit_module_get_filename(chosen);
    const std::string path = file != nullptr ? file : "";
    free(file);
    p11_kit_modules_release(registered);
    if (path.empty()) {
        throw Error("p11_kit_module_get_filename", CKR_GENERAL_ERROR);
    }
    CK_FUNCTION_LIST* module = p11_kit_module_load(path.c_str(), 0);
    if (module == nullptr) {
        throw Error("p11_kit_module_load", CKR_GENERAL_ERROR);
    }
    return module;
}

}  // namespace

std::shared_ptr<Modules> Modules::Load(const ModuleChoice& choice) {
    RequireNoCardHeld("Loading a PKCS#11 module");
    static std::mutex lock;
    static std::map<std::string, std::weak_ptr<Modules>> shared;
    std::lock_guard guard(lock);
    const std::string key = Key(choice);
    if (auto existing = shared[key].lock()) {
        if (existing->pid_ != getpid()) {
            existing->InitializeInChild();
        }
        return existing;
    }
    std::shared_ptr<Modules> modules(new Modules());
    if (choice.Everything()) {
        modules->registered_ = p11_kit_modules_load_and_initialize(0);
        if (modules->registered_ == nullptr) {
            throw Error("p11_kit_modules_load_and_initialize", CKR_GENERAL_ERROR);
        }
        for (CK_FUNCTION_LIST** m = modules->registered_; *m != nullptr; ++m) {
            modules->modules_.push_back(*m);
        }
    } else {
        CK_FUNCTION_LIST* module = choice.path.empty()
                                       ? LoadRegisteredByName(choice.name)
                                       : p11_kit_module_load(choice.path.c_str(), 0);
        if (module == nullptr) {
            throw Error("p11_kit_module_load", CKR_GENERAL_ERROR);
        }
        const CK_RV rv = p11_kit_module_initialize(module);
        if (rv != CKR_OK) {
            p11_kit_module_release(module);
            throw Error("C_Initialize", rv);
        }
        modules->modules_.push_back(module);
    }
    if (TraceEnabled()) {
        Trace(
            TraceLevel::Info,
            Utf8ToUtf16(choice.Everything() ? std::string("Loaded every registered PKCS#11 module")
                                            : "Loaded the PKCS#11 module " + key.substr(5)));
    }
    modules->pid_ = getpid();
    shared[key] = modules;
    return modules;
}

void Modules::InitializeInChild() {
    // p11-kit sees the fork and lets each module be initialised again in the child; a module
    // that fails answers every later call with its own error.
    for (CK_FUNCTION_LIST* module : modules_) {
        p11_kit_module_initialize(module);
    }
    pid_ = getpid();
}

std::vector<Token> Modules::Tokens() {
    std::vector<Token> tokens;
    for (CK_FUNCTION_LIST* module : modules_) {
        CK_ULONG count = 0;
        if (module->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK || count == 0) {
            continue;
        }
        std::vector<CK_SLOT_ID> slots(count);
        if (module->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK) {
            continue;
        }
        slots.resize(count);
        char* file = p11_kit_module_get_filename(module);
        const std::string path = file != nullptr ? file : "";
        free(file);
        CK_INFO moduleInfo{};
        module->C_GetInfo(&moduleInfo);
        for (CK_SLOT_ID slot : slots) {
            CK_SLOT_INFO slotInfo{};
            CK_TOKEN_INFO tokenInfo{};
            if (module->C_GetSlotInfo(slot, &slotInfo) != CKR_OK ||
                module->C_GetTokenInfo(slot, &tokenInfo) != CKR_OK) {
                continue;
            }
            tokens.push_back({nullptr, module, slot,
                              Trimmed(slotInfo.slotDescription, sizeof slotInfo.slotDescription),
                              Trimmed(tokenInfo.label, sizeof tokenInfo.label),
                              Trimmed(tokenInfo.serialNumber, sizeof tokenInfo.serialNumber), path,
                              tokenInfo.flags, tokenInfo, slotInfo, moduleInfo});
        }
    }
    return tokens;
}

std::vector<Token> AllTokens(const ModuleChoice& choice) {
    auto modules = Modules::Load(choice);
    auto tokens = modules->Tokens();
    for (auto& token : tokens) {
        token.modules = modules;
    }
    return tokens;
}

Session::Session(Token token, bool readWrite) : token_(std::move(token)) {
    CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
    Check("C_OpenSession", F()->C_OpenSession(token_.slot, flags, nullptr, nullptr, &handle_));
}

Session::~Session() {
    if (handle_ != CK_INVALID_HANDLE) {
        F()->C_CloseSession(handle_);
    }
}

void Session::Login() {
    CK_TOKEN_INFO info{};
    Check("C_GetTokenInfo", F()->C_GetTokenInfo(token_.slot, &info));
    if ((info.flags & CKF_LOGIN_REQUIRED) == 0) {
        return;
    }
    CK_SESSION_INFO session{};
    Check("C_GetSessionInfo", F()->C_GetSessionInfo(handle_, &session));
    if (session.state == CKS_RO_USER_FUNCTIONS || session.state == CKS_RW_USER_FUNCTIONS) {
        return;
    }
    PinStatePrompt prompt;
    {
        std::lock_guard guard(PromptLock());
        prompt = Prompt();
    }
    const std::u16string label = Utf8ToUtf16(token_.label);
    SecretText refused;  // the PIN the token refused last, never sent twice
    std::uint32_t wasWrong = 0;
    for (int asked = 0;; ++asked) {
        if (asked > 0) {
            Check("C_GetTokenInfo", F()->C_GetTokenInfo(token_.slot, &info));
        }
        const PinRequest request{label, -1, StateOf(info.flags) | wasWrong};
        if ((info.flags & CKF_USER_PIN_LOCKED) != 0) {
            if (prompt) {
                RequireNoCardHeld("Asking for a token PIN");
                SecretText ignored;
                prompt(request, ignored);
            }
            throw Error("C_Login", CKR_PIN_LOCKED);
        }
        CK_RV rv;
        SecretText pin;
        if ((info.flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0) {
            PadNoticeShown notice(label);
            rv = F()->C_Login(handle_, CKU_USER, nullptr, 0);
        } else {
            RequireNoCardHeld("Asking for a token PIN");
            if (!prompt || !prompt(request, pin) || pin.Size() > kLongestPin) {
                throw Error("C_Login", CKR_FUNCTION_CANCELED);
            }
            if (wasWrong != 0 && pin.Size() == refused.Size() &&
                std::equal(pin.Data(), pin.Data() + pin.Size(), refused.Data())) {
                // The same PIN again (a prompt that cannot tell it was wrong): sending it would
                // only spend another try.
                throw Error("C_Login", CKR_PIN_INCORRECT);
            }
            std::vector<CK_UTF8CHAR> bytes(pin.Data(), pin.Data() + pin.Size());
            rv = F()->C_Login(handle_, CKU_USER, bytes.data(), bytes.size());
            if (!bytes.empty()) {
                OPENSSL_cleanse(bytes.data(), bytes.size());
            }
        }
        if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) {
            return;
        }
        if (rv != CKR_PIN_INCORRECT || asked + 1 >= kMostPinAsks) {
            throw Error("C_Login", rv);
        }
        refused.Assign(pin.Data(), pin.Size());
        wasWrong = kPinWasWrong;
    }
}

std::vector<CK_OBJECT_HANDLE> Session::Find(std::span<CK_ATTRIBUTE> match) {
    Check("C_FindObjectsInit", F()->C_FindObjectsInit(handle_, match.data(), match.size()));
    std::vector<CK_OBJECT_HANDLE> found;
    CK_RV rv = CKR_OK;
    for (;;) {
        CK_OBJECT_HANDLE batch[32];
        CK_ULONG count = 0;
        rv = F()->C_FindObjects(handle_, batch, 32, &count);
        if (rv != CKR_OK || count == 0) {
            break;
        }
        found.insert(found.end(), batch, batch + count);
    }
    F()->C_FindObjectsFinal(handle_);
    Check("C_FindObjects", rv);
    return found;
}

bool Session::Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, ByteArray& value) {
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    if (F()->C_GetAttributeValue(handle_, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return false;
    }
    value.resize(attribute.ulValueLen);
    attribute.pValue = value.data();
    return F()->C_GetAttributeValue(handle_, object, &attribute, 1) == CKR_OK;
}

ByteArray Session::Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    ByteArray value;
    if (!Attribute(object, type, value)) {
        throw Error("C_GetAttributeValue", CKR_ATTRIBUTE_TYPE_INVALID);
    }
    return value;
}

bool Session::Flag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_BBOOL value = CK_FALSE;
    CK_ATTRIBUTE attribute{type, &value, sizeof value};
    return F()->C_GetAttributeValue(handle_, object, &attribute, 1) == CKR_OK && value == CK_TRUE;
}

ByteArray Session::Sign(CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism,
                        std::span<const std::uint8_t> data) {
    CK_MECHANISM m{mechanism, nullptr, 0};
    return Sign(key, m, data);
}

ByteArray Session::Decrypt(CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism,
                           std::span<const std::uint8_t> data) {
    CK_MECHANISM m{mechanism, nullptr, 0};
    return Decrypt(key, m, data);
}

bool Session::Offers(CK_MECHANISM_TYPE mechanism, CK_FLAGS uses) {
    CK_MECHANISM_INFO info{};
    return F()->C_GetMechanismInfo(token_.slot, mechanism, &info) == CKR_OK &&
           (info.flags & uses) == uses;
}

ByteArray Session::Sign(CK_OBJECT_HANDLE key, CK_MECHANISM& m, std::span<const std::uint8_t> data) {
    Check("C_SignInit", F()->C_SignInit(handle_, &m, key));
    ByteArray input(data.begin(), data.end());
    CK_ULONG length = 0;
    Check("C_Sign", F()->C_Sign(handle_, input.data(), input.size(), nullptr, &length));
    ByteArray signature(length);
    Check("C_Sign", F()->C_Sign(handle_, input.data(), input.size(), signature.data(), &length));
    signature.resize(length);
    return signature;
}

ByteArray Session::Decrypt(CK_OBJECT_HANDLE key, CK_MECHANISM& m,
                           std::span<const std::uint8_t> data) {
    Check("C_DecryptInit", F()->C_DecryptInit(handle_, &m, key));
    ByteArray input(data.begin(), data.end());
    CK_ULONG length = 0;
    Check("C_Decrypt", F()->C_Decrypt(handle_, input.data(), input.size(), nullptr, &length));
    ByteArray plain(length);
    Check("C_Decrypt", F()->C_Decrypt(handle_, input.data(), input.size(), plain.data(), &length));
    plain.resize(length);
    return plain;
}

}  // namespace Orvel::Pkcs11
