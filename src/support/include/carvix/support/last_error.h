// The calling thread's last-error value, the stand-in for GetLastError / SetLastError.
#pragma once

#include <cstdint>

namespace Orvel {

std::uint32_t GetLastError() noexcept;
void SetLastError(std::uint32_t code) noexcept;

}  // namespace Orvel
