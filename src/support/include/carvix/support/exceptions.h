// The exception hierarchy shared by every layer below the scripting surface.
//
// Exceptions are thrown by value and caught by reference. Each carries a finished UTF-16
// message; some add a numeric code. Messages come either from the module's string table
// (see string_table.h) or from literals built by the throwing layer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Orvel {

/// Root of the hierarchy. Owns its message text.
class Exception {
  public:
    /// Message = string 20488 "An unhandled exception was thrown.".
    Exception();
    explicit Exception(std::u16string message);
    virtual ~Exception();
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    const std::u16string& Message() const noexcept { return message_; }

  protected:
    struct NoTrace {};
    Exception(std::u16string message, NoTrace);

  private:
    std::u16string message_;
};

/// A bad argument to a support-library call. The message ends in the parameter's name.
class ArgumentException : public Exception {
  public:
    explicit ArgumentException(std::u16string message);
    ArgumentException(std::u16string message, std::u16string paramName);
    ~ArgumentException() override;
    ArgumentException(const ArgumentException&) = default;
    ArgumentException& operator=(const ArgumentException&) = default;

    const std::u16string& ParamName() const noexcept { return paramName_; }

  private:
    std::u16string paramName_;
};

class ArgumentOutOfRangeException : public ArgumentException {
  public:
    /// Message = string 20487, then 20485, then paramName.
    explicit ArgumentOutOfRangeException(std::u16string paramName);
    ArgumentOutOfRangeException(std::u16string paramName, std::u16string message);
    ~ArgumentOutOfRangeException() override;
    ArgumentOutOfRangeException(const ArgumentOutOfRangeException&) = default;
    ArgumentOutOfRangeException& operator=(const ArgumentOutOfRangeException&) = default;
};

class OverflowException : public Exception {
  public:
    explicit OverflowException(std::u16string message);
    ~OverflowException() override;
    OverflowException(const OverflowException&) = default;
    OverflowException& operator=(const OverflowException&) = default;
};

/// A failed system call, with its 32-bit error code. The message is the system text of
/// the code; the operation name only goes to the trace sink.
class Win32Exception : public Exception {
  public:
    /// code = the calling thread's last-error value (see last_error.h).
    explicit Win32Exception(const char* operationName);
    Win32Exception(const char* operationName, std::uint32_t code);
    /// With a message of its own instead of the code's text, for a failure whose cause and
    /// remedy are known better than the code alone says.
    Win32Exception(const char* operationName, std::uint32_t code, std::u16string message);
    ~Win32Exception() override;
    Win32Exception(const Win32Exception&) = default;
    Win32Exception& operator=(const Win32Exception&) = default;

    std::uint32_t Code() const noexcept { return code_; }
    const std::string& OperationName() const noexcept { return operationName_; }

  private:
    std::uint32_t code_;
    std::string operationName_;
};

/// For destructors and clean-up paths that must not throw: sends `what` followed by the
/// exception's message to the trace sink as a warning, when one is installed.
void TraceSwallowed(std::u16string_view what, const Exception& e) noexcept;

namespace PCSC {
/// A failed PC/SC call or state check; Code() holds the PC/SC return value.
class PCSCWin32Exception : public Win32Exception {
  public:
    PCSCWin32Exception(const char* operationName, std::uint32_t code);
    PCSCWin32Exception(const char* operationName, std::uint32_t code, std::u16string message);
    ~PCSCWin32Exception() override;
    PCSCWin32Exception(const PCSCWin32Exception&) = default;
    PCSCWin32Exception& operator=(const PCSCWin32Exception&) = default;
};
}  // namespace PCSC

namespace IO {
class IOException : public Exception {
  public:
    explicit IOException(std::u16string message);
    ~IOException() override;
    IOException(const IOException&) = default;
    IOException& operator=(const IOException&) = default;
};

class PathTooLongException : public IOException {
  public:
    /// Message = string 20994.
    PathTooLongException();
    ~PathTooLongException() override;
    PathTooLongException(const PathTooLongException&) = default;
    PathTooLongException& operator=(const PathTooLongException&) = default;
};
}  // namespace IO

namespace Security::Cryptography::X509 {
class X509Exception : public Exception {
  public:
    explicit X509Exception(std::u16string message);
    ~X509Exception() override;
    X509Exception(const X509Exception&) = default;
    X509Exception& operator=(const X509Exception&) = default;
};
}  // namespace Security::Cryptography::X509

}  // namespace Orvel

namespace SmartCardIO {
/// Command APDU construction and transport-protocol errors.
class SCIOException : public Orvel::Exception {
  public:
    explicit SCIOException(std::u16string message);
    ~SCIOException() override;
    SCIOException(const SCIOException&) = default;
    SCIOException& operator=(const SCIOException&) = default;
};
}  // namespace SmartCardIO

namespace JavaCard {
/// An applet answered with a status word other than 9000.
class AppletException : public Orvel::Exception {
  public:
    /// statusWord = SW1 << 8 | SW2; message = string 20488.
    explicit AppletException(std::uint16_t statusWord);
    ~AppletException() override;
    AppletException(const AppletException&) = default;
    AppletException& operator=(const AppletException&) = default;

    std::uint16_t StatusWord() const noexcept { return statusWord_; }

  private:
    std::uint16_t statusWord_;
};
}  // namespace JavaCard

/// The one exception the card-application layer lets out. Its code becomes the HRESULT of
/// the scripting methods (see hresult.h for the mapping).
class CardException : public Orvel::Exception {
  public:
    /// code = E_FAIL.
    explicit CardException(std::u16string message);
    CardException(std::u16string message, std::int32_t code);
    /// "PCSC exception: " + inner message; code = the PC/SC code.
    explicit CardException(const Orvel::PCSC::PCSCWin32Exception& inner);
    /// "Applet exception: " + inner message; code = the status word, zero-extended.
    explicit CardException(const JavaCard::AppletException& inner);
    ~CardException() override;
    CardException(const CardException&) = default;
    CardException& operator=(const CardException&) = default;

    std::int32_t Code() const noexcept { return code_; }

  private:
    std::int32_t code_;
};
