#include "carvix/support/framework_error.h"

#include "carvix/support/hresult.h"

namespace Orvel {

const char* FrameworkError::what() const noexcept {
    switch (hresult_) {
        case kE_INVALIDARG:
            return "invalid argument";
        case kE_OUTOFMEMORY:
            return "out of memory";
        default:
            return "framework failure";
    }
}

void ThrowInvalidArgument() {
    throw FrameworkError(kE_INVALIDARG);
}

}  // namespace Orvel
