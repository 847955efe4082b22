// The system's message text for an error code (PC/SC, Win32 or HRESULT).
#pragma once

#include <cstdint>
#include <string>

namespace Orvel {

/// The text for `code` without any "\r\n"; string 20490 when the code has no text.
std::u16string SystemMessageText(std::uint32_t code);

}  // namespace Orvel
