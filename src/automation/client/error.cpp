// The one error value of the client library, and the component's message text behind it.
#include "carvix/automation/client.h"

#include <cstdio>
#include <mutex>

namespace carvix::automation {
namespace {

std::string Composed(HRESULT hr, const std::string& doing, const std::string& message) {
    return doing + ": " + HexCode(hr) + (message.empty() ? "" : " ") + message;
}

std::string MessageFor(HRESULT hr, std::string description) {
    return description.empty() ? MessageText(hr) : std::move(description);
}

}  // namespace

ClientError::ClientError(HRESULT hr, std::string doingWhat, std::string description)
    : ClientError(hr, std::move(doingWhat), MessageFor(hr, std::move(description)), 0) {}

ClientError::ClientError(HRESULT hr, std::string doingWhat, std::string text, int)
    : std::runtime_error(Composed(hr, doingWhat, text)),
      hresult(hr),
      message(std::move(text)),
      doing(std::move(doingWhat)) {}

ClientError::~ClientError() = default;

std::string HexCode(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string MessageText(HRESULT hr) {
    // The component keeps the message table; its CARVIX.Utilities object says the text. One
    // object serves the whole process and is never released, so no call reaches the module
    // while the process ends. Until the component is registered each failure looks again.
    static std::mutex lock;
    static IDispatch* utilities = nullptr;
    const std::lock_guard hold(lock);
    if (utilities == nullptr) {
        CLSID clsid{};
        void* p = nullptr;
        if (SUCCEEDED(CLSIDFromProgID(u"CARVIX.Utilities", &clsid)) &&
            SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p))) {
            utilities = static_cast<IDispatch*>(p);
        }
    }
    if (utilities == nullptr) {
        return {};
    }
    std::u16string name = u"GetErrorMessage";
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(utilities->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
        return {};
    }
    VARIANT code = IntValue(hr);
    DISPPARAMS params{&code, nullptr, 1, 0};
    ScopedVariant text;
    if (FAILED(utilities->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                 text.Get(), nullptr, nullptr))) {
        return {};
    }
    return TextOf(*text.Get());
}

}  // namespace carvix::automation
