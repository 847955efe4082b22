#include "carvix/com/notifier.h"

#include "carvix/support/text.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace carvix::com {
namespace {

std::mutex g_lock;
Notifier g_notifier;

void ToStandardError(std::u16string_view caption, std::u16string_view text) {
    const std::string line = Orvel::Utf16ToUtf8(caption) + ": " + Orvel::Utf16ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

Notifier SetNotifier(Notifier notifier) {
    std::lock_guard guard(g_lock);
    return std::exchange(g_notifier, std::move(notifier));
}

void Notify(std::u16string_view caption, std::u16string_view text, std::uint32_t style) noexcept {
    try {
        Notifier current;
        {
            std::lock_guard guard(g_lock);
            current = g_notifier;
        }
        if (current) {
            current(caption, text, style);
        } else {
            ToStandardError(caption, text);
        }
    } catch (...) {
        // A notice is advice to the user; its failure must not change the call's result.
    }
}

}  // namespace carvix::com
