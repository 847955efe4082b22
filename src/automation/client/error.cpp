// The one error value of the client library, and the component's message text behind it.
#include "carvix/automation/client.h"

#include <cstdio>

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

std::u16string TakeErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) {
        return {};
    }
    ScopedBstr text;
    info->GetDescription(text.Put());
    info->Release();
    return text.Get() == nullptr ? std::u16string()
                                 : std::u16string(text.Get(), SysStringLen(text.Get()));
}

std::string MessageText(HRESULT hr) {
    // The runtime's own message table: no object is created to find a text.
    OLECHAR* text = nullptr;
    constexpr std::uint32_t kFromSystemAllocated = 0x1000 | 0x200 | 0x100;
    const std::uint32_t length =
        FormatMessageW(kFromSystemAllocated, nullptr, static_cast<std::uint32_t>(hr), 0x400,
                       reinterpret_cast<OLECHAR*>(&text), 0, nullptr);
    if (text == nullptr) {
        return {};
    }
    std::string utf8 = Utf8(std::u16string_view(text, length));
    CoTaskMemFree(text);
    return utf8;
}

}  // namespace carvix::automation
