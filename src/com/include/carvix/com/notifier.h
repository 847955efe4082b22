// The warning box of the scripting classes. The host program installs a notifier (a dialog,
// a terminal line, a test's recorder); until it does, notices go to standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace carvix::com {

/// MB_OK | MB_ICONWARNING, the style of every notice the classes show.
inline constexpr std::uint32_t kNoticeWarningStyle = 0x30;

/// Receives one notice; called on the caller's thread inside the method call, which waits for
/// it to return (as for a modal box).
using Notifier =
    std::function<void(std::u16string_view caption, std::u16string_view text, std::uint32_t style)>;

/// Installs `notifier`; an empty one restores the default (caption and text to stderr).
/// Returns the notifier that was installed before, so a caller can put it back.
Notifier SetNotifier(Notifier notifier);

/// Shows one notice. Never throws: a failing notifier is ignored.
void Notify(std::u16string_view caption, std::u16string_view text,
            std::uint32_t style = kNoticeWarningStyle) noexcept;

}  // namespace carvix::com
