// The one place where the return value of an SCard* call is judged. Every call is made
// through Api() (pcsc_api.h) and judged here. pcsc-lite returns `long` (64-bit here), so the
// value is first cut to its 32 bits; only then is it compared and, on failure, thrown as
// PCSCWin32Exception with the call's name:
//
//   Orvel::PCSC::detail::Check("SCardConnect", Api().Connect(...));
#pragma once

#include "carvix/support/exceptions.h"
#include "carvix/support/hresult.h"
#include "carvix/support/pcsc_constants.h"

#include <PCSC/winscard.h>

namespace Orvel::PCSC::detail {

inline std::uint32_t Code(LONG rv) noexcept {
    return PcscCode(rv);
}

inline void Check(const char* operation, LONG rv) {
    const std::uint32_t code = Code(rv);
    if (code != kSuccess) {
        throw PCSCWin32Exception(operation, code);
    }
}

[[noreturn]] inline void WrongState(const char* check) {
    throw PCSCWin32Exception(check, kInternalError);
}

}  // namespace Orvel::PCSC::detail
