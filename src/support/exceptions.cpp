#include "carvix/support/exceptions.h"

#include "carvix/support/hresult.h"
#include "carvix/support/last_error.h"
#include "carvix/support/string_table.h"
#include "carvix/support/system_message.h"
#include "carvix/support/text.h"
#include "carvix/support/trace.h"

#include <cstdio>
#include <utility>

namespace Orvel {
namespace {

// Keeps the thread's last-error value across the construction of an exception.
class LastErrorKeeper {
  public:
    LastErrorKeeper() noexcept : saved_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(saved_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

  private:
    std::uint32_t saved_;
};

void TraceMessage(const std::u16string& message) {
    if (TraceEnabled()) {
        Trace(TraceLevel::Info, message);
    }
}

std::u16string WithParamName(std::u16string message, const std::u16string& paramName) {
    message += LoadString(20485);
    message += paramName;
    return message;
}

}  // namespace

Exception::Exception() {
    LastErrorKeeper keep;
    message_ = LoadString(20488);
}

Exception::Exception(std::u16string message) : message_(std::move(message)) {
    LastErrorKeeper keep;
    TraceMessage(message_);
}

Exception::Exception(std::u16string message, NoTrace) : message_(std::move(message)) {}

Exception::~Exception() = default;

void TraceSwallowed(std::u16string_view what, const Exception& e) noexcept {
    if (!TraceEnabled()) {
        return;
    }
    try {
        std::u16string line(what);
        line += e.Message();
        Trace(TraceLevel::Warning, line);
    } catch (...) {
        // No memory for the line: the failure stays swallowed, untraced.
    }
}

ArgumentException::ArgumentException(std::u16string message) : Exception(std::move(message)) {}

ArgumentException::ArgumentException(std::u16string message, std::u16string paramName)
    : Exception(WithParamName(std::move(message), paramName)), paramName_(std::move(paramName)) {}

ArgumentException::~ArgumentException() = default;

ArgumentOutOfRangeException::ArgumentOutOfRangeException(std::u16string paramName)
    : ArgumentException(LoadString(20487), std::move(paramName)) {}

ArgumentOutOfRangeException::ArgumentOutOfRangeException(std::u16string paramName,
                                                         std::u16string message)
    : ArgumentException(std::move(message), std::move(paramName)) {}

ArgumentOutOfRangeException::~ArgumentOutOfRangeException() = default;

OverflowException::OverflowException(std::u16string message) : Exception(std::move(message)) {}
OverflowException::~OverflowException() = default;

Win32Exception::Win32Exception(const char* operationName)
    : Win32Exception(operationName, GetLastError()) {}

Win32Exception::Win32Exception(const char* operationName, std::uint32_t code)
    : Win32Exception(operationName, code, SystemMessageText(code)) {}

Win32Exception::Win32Exception(const char* operationName, std::uint32_t code,
                               std::u16string message)
    : Exception(std::move(message), NoTrace{}),
      code_(code),
      operationName_(operationName ? operationName : "") {
    LastErrorKeeper keep;
    if (TraceEnabled()) {
        Trace(TraceLevel::Info, Message() + u" (" + Utf8ToUtf16(operationName_) + u")");
    }
}

Win32Exception::~Win32Exception() = default;

namespace PCSC {
PCSCWin32Exception::PCSCWin32Exception(const char* operationName, std::uint32_t code)
    : Win32Exception(operationName, code) {}
PCSCWin32Exception::PCSCWin32Exception(const char* operationName, std::uint32_t code,
                                       std::u16string message)
    : Win32Exception(operationName, code, std::move(message)) {}
PCSCWin32Exception::~PCSCWin32Exception() = default;
}  // namespace PCSC

namespace IO {
IOException::IOException(std::u16string message) : Exception(std::move(message)) {}
IOException::~IOException() = default;
PathTooLongException::PathTooLongException() : IOException(LoadString(20994)) {}
PathTooLongException::~PathTooLongException() = default;
}  // namespace IO

namespace Security::Cryptography::X509 {
X509Exception::X509Exception(std::u16string message) : Exception(std::move(message)) {}
X509Exception::~X509Exception() = default;
}  // namespace Security::Cryptography::X509

}  // namespace Orvel

namespace SmartCardIO {
SCIOException::SCIOException(std::u16string message) : Orvel::Exception(std::move(message)) {}
SCIOException::~SCIOException() = default;
}  // namespace SmartCardIO

namespace JavaCard {
AppletException::AppletException(std::uint16_t statusWord) : statusWord_(statusWord) {
    Orvel::LastErrorKeeper keep;
    if (Orvel::TraceEnabled()) {
        char text[64];
        std::snprintf(text, sizeof text, "Smart card applet return error code %04hXh.",
                      static_cast<unsigned short>(statusWord));
        Orvel::Trace(Orvel::TraceLevel::Info, Orvel::Utf8ToUtf16(text));
    }
}
AppletException::~AppletException() = default;
}  // namespace JavaCard

CardException::CardException(std::u16string message)
    : Orvel::Exception(std::move(message)), code_(Orvel::kE_FAIL) {}

CardException::CardException(std::u16string message, std::int32_t code)
    : Orvel::Exception(std::move(message)), code_(code) {}

CardException::CardException(const Orvel::PCSC::PCSCWin32Exception& inner)
    : Orvel::Exception(u"PCSC exception: " + inner.Message()),
      code_(static_cast<std::int32_t>(inner.Code())) {}

CardException::CardException(const JavaCard::AppletException& inner)
    : Orvel::Exception(u"Applet exception: " + inner.Message()),
      code_(static_cast<std::int32_t>(inner.StatusWord())) {}

CardException::~CardException() = default;
