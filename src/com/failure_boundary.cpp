#include "carvix/com/failure_boundary.h"

#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/com/notifier.h"
#include "carvix/pki/key_container.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"
#include "carvix/support/hresult.h"
#include "carvix/support/string_table.h"
#include "carvix/support/system_message.h"

#include <new>
#include <string>

namespace carvix::com {
namespace {

/// The text "An unhandled exception was thrown.": an exception made without a message.
constexpr std::uint32_t kNoMessageText = 20488;

// `message` when it says more than `code` does: not empty, not the text of an exception made
// without a message, and not ending in the system's text for the code (as the card layer's
// "PCSC exception: " + text of the PC/SC code does). Those would only repeat, or hide, what
// a client already shows for the HRESULT.
std::u16string OwnText(const std::u16string& message, std::uint32_t code) {
    if (message.empty() || message.ends_with(Orvel::LoadString(kNoMessageText)) ||
        message.ends_with(Orvel::SystemMessageText(code))) {
        return {};
    }
    return message;
}

// The message of the exception being handled that is worth recording for the caller.
std::u16string MessageOfCurrent() {
    try {
        throw;
    } catch (const CardException& e) {
        // A failure that carries only its message (E_FAIL) is described by nothing else.
        return e.Code() == Orvel::kE_FAIL
                   ? e.Message()
                   : OwnText(e.Message(), static_cast<std::uint32_t>(e.Code()));
    } catch (const JavaCard::AppletException&) {
        return {};  // the status word is the whole story
    } catch (const Orvel::Win32Exception& e) {
        return OwnText(e.Message(), e.Code());
    } catch (const Orvel::Exception& e) {
        return OwnText(e.Message(), static_cast<std::uint32_t>(Orvel::kE_FAIL));
    } catch (...) {
        return {};  // no memory, framework failures and foreign exceptions carry no text
    }
}

HRESULT AppletFailure(FailurePolicy policy, std::uint16_t statusWord) {
    if (policy == FailurePolicy::Authentication) {
        return static_cast<HRESULT>(0x80040000u | statusWord);
    }
    return Orvel::HResultFromCode(statusWord);
}

// The HRESULT of the exception being handled under `policy`; `notice` is set when the
// failure is also to be shown.
HRESULT HResultOfCurrent(FailurePolicy policy, Notice& notice) {
    if (policy == FailurePolicy::Provider) {
        return static_cast<HRESULT>(pki::CurrentProviderFailure());
    }
    try {
        throw;
    } catch (const CardException& e) {
        if (policy == FailurePolicy::Document && e.Code() == Orvel::kE_FAIL) {
            notice = Notice::Warning;
        }
        return Orvel::HResultFromCode(e.Code());
    } catch (const JavaCard::AppletException& e) {
        return AppletFailure(policy, e.StatusWord());
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        return Orvel::HResultFromCode(static_cast<std::int32_t>(e.Code()));
    } catch (const Orvel::Win32Exception& e) {
        return policy == FailurePolicy::Authentication
                   ? Orvel::HResultFromCode(static_cast<std::int32_t>(e.Code()))
                   : E_FAIL;
    } catch (const Orvel::FrameworkError& e) {
        return e.HResult();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// Makes `message` the thread's error object; an empty message, or one that cannot be
// recorded, leaves none, so that a caller never reads an older call's text.
void Record(std::u16string_view message) noexcept {
    SetErrorInfo(0, nullptr);
    if (message.empty()) {
        return;
    }
    try {
        automation::ComPtr<ICreateErrorInfo> created;
        if (FAILED(CreateErrorInfo(created.Put())) || !created) {
            return;
        }
        std::u16string text(message);  // zero-terminated for SetDescription
        automation::ComPtr<IErrorInfo> info;
        if (SUCCEEDED(created->SetDescription(text.data())) &&
            SUCCEEDED(created->QueryInterface(IID_IErrorInfo, info.PutVoid())) && info) {
            SetErrorInfo(0, info.Get());
        }
    } catch (...) {
        // No memory for the text: the failure keeps its HRESULT, without a description.
    }
}

}  // namespace

HRESULT Fail(HRESULT hr, std::u16string_view message, Notice notice) noexcept {
    if (notice == Notice::Warning) {
        ShowWarning(message);
    }
    Record(message);
    return hr;
}

HRESULT CurrentFailure(FailurePolicy policy) noexcept {
    Notice notice = Notice::None;
    HRESULT hr = E_FAIL;
    std::u16string message;
    try {
        hr = HResultOfCurrent(policy, notice);
        message = MessageOfCurrent();
    } catch (...) {
        // No memory while reading the failure: its HRESULT stands, without a text.
    }
    return Fail(hr, message, notice);
}

}  // namespace carvix::com
