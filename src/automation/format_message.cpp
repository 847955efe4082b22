// FormatMessageW: the system's message texts, which the module's Win32Exception texts and
// every client's "message for this code" share.
#include "carvix/automation/oleauto.h"
#include "carvix/support/system_message.h"

#include <cstring>

namespace {

constexpr std::uint32_t kAllocateBuffer = 0x100;
constexpr std::uint32_t kIgnoreInserts = 0x200;
constexpr std::uint32_t kFromSystem = 0x1000;

}  // namespace

extern "C" {

std::uint32_t FormatMessageW(std::uint32_t dwFlags, const void* /*lpSource*/,
                             std::uint32_t dwMessageId, std::uint32_t /*dwLanguageId*/,
                             OLECHAR* lpBuffer, std::uint32_t nSize, void* /*Arguments*/) {
    if ((dwFlags & kFromSystem) == 0 ||
        (dwFlags & ~(kAllocateBuffer | kIgnoreInserts | kFromSystem)) != 0 || lpBuffer == nullptr) {
        return 0;
    }
    try {
        const std::u16string text = Orvel::SystemMessageText(dwMessageId);
        const std::size_t bytes = (text.size() + 1) * sizeof(OLECHAR);
        OLECHAR* out = lpBuffer;
        if ((dwFlags & kAllocateBuffer) != 0) {
            out = static_cast<OLECHAR*>(CoTaskMemAlloc(bytes));
            if (out == nullptr) {
                return 0;
            }
            *reinterpret_cast<OLECHAR**>(lpBuffer) = out;
        } else if (text.size() + 1 > nSize) {
            return 0;
        }
        std::memcpy(out, text.c_str(), bytes);
        return static_cast<std::uint32_t>(text.size());
    } catch (...) {  // out of memory
        return 0;
    }
}

}  // extern "C"
