// PKCS#11 tokens as p11-kit offers them: the modules registered with p11-kit (no
// configuration of our own), their slots with a token present, sessions and login.
//
// Login asks the PIN prompt that the host installed (SetPinPrompt) unless the token has a
// protected authentication path (a PIN pad), in which case the token asks itself. The PIN
// lives only in a SecretText for the duration of C_Login and is wiped after it; it is never
// traced or kept.
#pragma once

#include "carvix/support/byte_array.h"

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace Orvel::Pkcs11 {

/// A failed PKCS#11 call: the CKR_* value and the call's name.
class Error : public std::runtime_error {
  public:
    Error(const char* operation, CK_RV rv);
    CK_RV Value() const noexcept { return rv_; }

  private:
    CK_RV rv_;
};

/// Raises Error unless rv is CKR_OK.
void Check(const char* operation, CK_RV rv);

/// A secret (a PIN): bytes wiped on destruction and whenever they are replaced.
class SecretText {
  public:
    SecretText() = default;
    ~SecretText();
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;

    void Assign(const char* data, std::size_t length);
    void Clear() noexcept;
    const char* Data() const noexcept { return bytes_.data(); }
    std::size_t Size() const noexcept { return bytes_.size(); }

  private:
    std::vector<char> bytes_;
};

/// What a PIN prompt is told besides the token's label: the tries left (negative: the token
/// does not say) and PinState bits.
enum PinState : std::uint32_t {
    kPinCountLow = 0x1,  // a wrong PIN was entered since the last good one
    kPinFinalTry = 0x2,  // one more wrong PIN locks it
    kPinLocked = 0x4,    // locked: shown, never asked for
    kPinWasWrong = 0x8,  // the PIN given just before was wrong; this is another try
};
struct PinRequest {
    std::u16string tokenLabel;
    int triesLeft = -1;
    std::uint32_t state = 0;
};

/// Asked for the user PIN of a token; returns false when the user cancelled. A request with
/// kPinLocked only informs: its answer is not used.
using PinStatePrompt = std::function<bool(const PinRequest& request, SecretText& pin)>;

/// Installs the process-wide PIN prompt (an empty function removes it); returns the previous.
PinStatePrompt SetPinStatePrompt(PinStatePrompt prompt);

/// The older prompt, told only the token's label (it is not asked about a locked PIN).
using PinPrompt = std::function<bool(const std::u16string& tokenLabel, SecretText& pin)>;

/// Installs an older prompt as the process-wide PIN prompt (empty removes it).
void SetPinPrompt(PinPrompt prompt);

/// Shown while the user enters the PIN on a PIN pad: called with the token's label when the
/// login starts; the function it returns (may be empty) is called when the login ends.
using PinPadNotice = std::function<std::function<void()>(const std::u16string& tokenLabel)>;

/// Installs the process-wide PIN-pad notice (empty removes it).
void SetPinPadNotice(PinPadNotice notice);

/// The most PINs asked for in one login.
inline constexpr int kMostPinAsks = 3;

class Modules;

/// One slot with a token present.
struct Token {
    std::shared_ptr<Modules> modules;  // keeps the module initialised
    CK_FUNCTION_LIST* module = nullptr;
    CK_SLOT_ID slot = 0;
    std::string slotDescription;  // UTF-8, trailing blanks removed
    std::string label;            // UTF-8, trailing blanks removed
    std::string serial;           // UTF-8, trailing blanks removed
    std::string modulePath;       // the module's file, for key links that name it
    CK_FLAGS flags = 0;           // CK_TOKEN_INFO flags
    CK_TOKEN_INFO info{};         // as the module gave them, for matching `pkcs11:` URIs
    CK_SLOT_INFO slotInfo{};
    CK_INFO moduleInfo{};
};

/// Which modules to load: every module registered with p11-kit, or one module by its file or
/// by the name p11-kit registered it under.
struct ModuleChoice {
    std::string path;  // a module file (absolute, or relative to p11-kit's module folder)
    std::string name;  // a registered module's name, when path is empty
    bool Everything() const noexcept { return path.empty() && name.empty(); }
};

/// PKCS#11 modules loaded and initialised through p11-kit, finalised when the last holder
/// lets go. Loading runs other programs' code that may wait on the card we hold (a
/// PC/SC-based module connects to every card when it is initialised), so it refuses to run
/// while this thread holds a card (card_hold.h).
class Modules {
  public:
    ~Modules();
    Modules(const Modules&) = delete;
    Modules& operator=(const Modules&) = delete;

    /// Shares the chosen modules, loading them when nobody holds them. Only the chosen module
    /// is initialised (a module chosen by name is looked up among the registered ones without
    /// initialising the others). A module that cannot be loaded or initialised raises Error
    /// (CKR_GENERAL_ERROR, or the module's own C_Initialize result); CardHeldError while a
    /// card is held.
    static std::shared_ptr<Modules> Load(const ModuleChoice& choice = {});

    /// Every slot of every loaded module that has a token, in module and slot order.
    std::vector<Token> Tokens();

  private:
    Modules() = default;
    // A child of fork() initialises the modules again before using them.
    void InitializeInChild();
    std::vector<CK_FUNCTION_LIST*> modules_;
    long pid_ = 0;
    CK_FUNCTION_LIST** registered_ = nullptr;  // set when every registered module was loaded
};

/// Every token of the chosen modules (by default, of every registered module), each keeping
/// its module loaded.
std::vector<Token> AllTokens(const ModuleChoice& choice = {});

/// An open session on a token, closed on destruction.
class Session {
  public:
    Session(Token token, bool readWrite);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Token& TokenOf() const noexcept { return token_; }
    CK_FUNCTION_LIST* F() const noexcept { return token_.module; }
    CK_SESSION_HANDLE Handle() const noexcept { return handle_; }
    /// Forgets the session without closing it: in a child of fork() the handle is the
    /// parent's, and closing it could close a session the child opened since.
    void Abandon() noexcept { handle_ = CK_INVALID_HANDLE; }

    /// Logs the user in when the token needs it and nobody is logged in: through the PIN
    /// pad when the token has one (with the PIN-pad notice shown), else with the PIN the
    /// host's prompt gives, told the token's PIN state. After a wrong PIN the prompt is asked
    /// again (told so) while the token has tries left, at most kMostPinAsks times; a PIN equal
    /// to the one just refused is not sent again. No prompt or a cancel raises Error
    /// CKR_FUNCTION_CANCELED; a token whose PIN is locked raises CKR_PIN_LOCKED without
    /// asking (the prompt is shown the locked state).
    void Login();

    /// The handles of the objects matching the template.
    std::vector<CK_OBJECT_HANDLE> Find(std::span<CK_ATTRIBUTE> match);
    /// An attribute's bytes; none when the object has no such (readable) attribute.
    bool Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, ByteArray& value);
    ByteArray Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
    bool Flag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);

    /// One-shot operations with a key.
    ByteArray Sign(CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism,
                   std::span<const std::uint8_t> data);
    ByteArray Decrypt(CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism,
                      std::span<const std::uint8_t> data);
    /// The same with a mechanism that has parameters (PSS, OAEP).
    ByteArray Sign(CK_OBJECT_HANDLE key, CK_MECHANISM& mechanism,
                   std::span<const std::uint8_t> data);
    ByteArray Decrypt(CK_OBJECT_HANDLE key, CK_MECHANISM& mechanism,
                      std::span<const std::uint8_t> data);
    /// Whether the token offers the mechanism for all of the CKF_* uses in `uses`.
    bool Offers(CK_MECHANISM_TYPE mechanism, CK_FLAGS uses);

  private:
    Token token_;
    CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};

/// Text of a blank-padded PKCS#11 field, trailing blanks removed.
std::string Trimmed(const unsigned char* field, std::size_t size);

}  // namespace Orvel::Pkcs11
