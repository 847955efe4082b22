#include "carvix/support/last_error.h"

namespace Orvel {
namespace {
thread_local std::uint32_t lastError = 0;
}

std::uint32_t GetLastError() noexcept {
    return lastError;
}
void SetLastError(std::uint32_t code) noexcept {
    lastError = code;
}

}  // namespace Orvel
