// Failures of the framework layer itself: a bad argument to a value type (for example a
// response of fewer than two bytes), an index past the end, no memory. They carry only an
// HRESULT and are deliberately outside the Orvel::Exception hierarchy, so that the layers
// which convert Orvel exceptions into card errors let them pass untouched.
#pragma once

#include <cstdint>
#include <exception>

namespace Orvel {

class FrameworkError : public std::exception {
  public:
    explicit FrameworkError(std::int32_t hresult) noexcept : hresult_(hresult) {}

    std::int32_t HResult() const noexcept { return hresult_; }
    const char* what() const noexcept override;

  private:
    std::int32_t hresult_;
};

/// Throws FrameworkError(E_INVALIDARG).
[[noreturn]] void ThrowInvalidArgument();

}  // namespace Orvel
