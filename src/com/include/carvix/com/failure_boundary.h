// The one place where a failure inside a scripting method becomes the method's HRESULT.
//
// Every member runs its work through Guarded(policy, body): nothing thrown crosses the
// interface, the HRESULT follows the class's policy, and a failure whose message says more
// than its code is recorded for the caller as the thread's error object (SetErrorInfo),
// which Invoke hands to a script in EXCEPINFO.bstrDescription. The warning notice is shown
// where the policy asks for it, exactly as before the error object existed.
#pragma once

#include "carvix/automation/types.h"

#include <string_view>

namespace carvix::com {

/// How the classes differ, on purpose, in turning a failure into an HRESULT. Common to all:
/// a CardException gives its code mapped by Orvel::HResultFromCode (zero and negative codes
/// unchanged, a positive c as 0x80070000 | (c & 0xFFFF)), so does a PC/SC failure; a
/// framework failure gives its HRESULT, no memory E_OUTOFMEMORY, anything else E_FAIL.
enum class FailurePolicy {
    /// The document service: an applet's status word SW as 0x8007SSSS; a CardException with
    /// E_FAIL (a failure that carries only its message) is also shown in the warning notice.
    Document,
    /// The authentication object: an applet's status word SW as 0x8004SSSS and every system
    /// failure (not only PC/SC) by its code; never a notice.
    Authentication,
    /// The PKI service: the token provider's reading of the failure (NTE_FAIL for what it
    /// does not know); never a notice.
    Provider,
    /// Every other member: as the document service, without the notice.
    Plain,
};

/// Whether a failure is also shown to the user in the warning notice.
enum class Notice { None, Warning };

/// The HRESULT of the exception being handled; call it only inside a catch handler. Shows
/// the notice and records the message as Fail does.
HRESULT CurrentFailure(FailurePolicy policy) noexcept;

/// A failure that is not an exception: shows `message` in the warning notice when asked (even
/// an empty one), records it as the thread's error object when it is not empty (clears that
/// otherwise), and returns `hr`.
HRESULT Fail(HRESULT hr, std::u16string_view message, Notice notice = Notice::None) noexcept;

/// Runs `body` (which returns the member's HRESULT) and turns anything it throws into the
/// HRESULT `policy` gives.
template <class Body>
HRESULT Guarded(FailurePolicy policy, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return CurrentFailure(policy);
    }
}

}  // namespace carvix::com
