// The log lines of a call by name: which class and member, and how it ended. The arguments
// are never logged (they may hold personal data or a challenge response).
#pragma once

#include "carvix/automation/typeinfo.h"

#include <chrono>
#include <cstdint>

namespace carvix::com {

class CallLog {
  public:
    /// Logs the start of a call of member `id` of the interface (methods at the calls level,
    /// property reads and writes at the commands level).
    CallLog(const automation::InterfaceDesc& desc, DISPID id, std::uint16_t flags) noexcept;
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    /// Logs the result and the time the call took; returns `hr`.
    HRESULT Ended(HRESULT hr) const noexcept;

  private:
    const automation::InterfaceDesc& desc_;
    const automation::MemberDesc* member_ = nullptr;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace carvix::com
