#include "carvix/com/notifier.h"

#include "carvix/automation/host_hooks.h"

#include <atomic>
#include <string>

namespace carvix::com {
namespace {

std::atomic<NotifierFn> gNotifier{nullptr};

// Without a notifier of the module's own, the host's (or standard error) shows it.
void AskHost(const char16_t* caption, const char16_t* text, std::uint32_t style) {
    CarvixNotify(caption, text, style);
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
        (fn != nullptr ? fn : &AskHost)(c.c_str(), t.c_str(), style);
    } catch (...) {
        // Out of memory while building the notice: there is nothing left to show it with.
    }
}

void ShowWarning(std::u16string_view text) noexcept {
    Notify(kWarningCaption, text, kWarningStyle);
}

}  // namespace carvix::com
