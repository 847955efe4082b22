// The warning notice of the scripting classes. The module shows no window of its own: the
// host program installs a notifier (a terminal prompt, a dialog, a log line) in the
// automation runtime (carvix/automation/host_hooks.h), and without one the caption and text
// go to standard error. SetNotifier below replaces both for this module alone (tests).
#pragma once

#include <cstdint>
#include <string_view>

namespace carvix::com {

/// MB_OK | MB_ICONWARNING, the style of every warning the module shows.
inline constexpr std::uint32_t kWarningStyle = 0x30;
/// The caption of every warning the module shows.
inline constexpr std::u16string_view kWarningCaption = u"Tessaro";

/// A notifier: caption, text (both zero-terminated UTF-16) and the message-box style. It runs
/// on the caller's thread inside the method call and may block until the user answers.
using NotifierFn = void (*)(const char16_t* caption, const char16_t* text, std::uint32_t style);

/// Installs `fn` for this module; nullptr restores the default (the host's notifier).
void SetNotifier(NotifierFn fn) noexcept;
/// The installed notifier, or nullptr when the default is in force.
NotifierFn GetNotifier() noexcept;

/// Shows one notice through the installed notifier. Never throws.
void Notify(std::u16string_view caption, std::u16string_view text, std::uint32_t style) noexcept;
/// Notify(kWarningCaption, text, kWarningStyle).
void ShowWarning(std::u16string_view text) noexcept;

}  // namespace carvix::com
