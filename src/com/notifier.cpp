#include "carvix/com/notifier.h"

#include "carvix/support/text.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace carvix::com {
namespace {

std::atomic<NotifierFn> gNotifier{nullptr};

void WriteToStandardError(const char16_t* caption, const char16_t* text, std::uint32_t) {
    const std::string line = Orvel::Utf16ToUtf8(caption) + ": " + Orvel::Utf16ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

void SetNotifier(NotifierFn fn) noexcept {
    gNotifier.store(fn);
}

NotifierFn GetNotifier() noexcept {
    return gNotifier.load();
}

void Notify(std::u16string_view caption, std::u16string_view text, std::uint32_t style) noexcept {
    try {
        const std::u16string c(caption);
        const std::u16string t(text);
        NotifierFn fn = gNotifier.load();
        (fn != nullptr ? fn : &WriteToStandardError)(c.c_str(), t.c_str(), style);
    } catch (...) {
        // Out of memory while building the notice: there is nothing left to show it with.
    }
}

void ShowWarning(std::u16string_view text) noexcept {
    Notify(kWarningCaption, text, kWarningStyle);
}

}  // namespace carvix::com
