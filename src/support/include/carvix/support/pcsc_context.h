// A PC/SC resource-manager context, established for the life of its owner.
#pragma once

#include "carvix/support/pcsc_constants.h"

#include <PCSC/winscard.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Orvel::PCSC {

/// Owns one SCARDCONTEXT. Established by the constructor; released by Release or, failures
/// swallowed, by the destructor. Failures throw PCSCWin32Exception with the call's name.
class PCSCContext {
  public:
    /// SCardEstablishContext with the given scope (the card link uses the user scope).
    explicit PCSCContext(std::uint32_t scope = kScopeUser);
    ~PCSCContext() noexcept;
    PCSCContext(const PCSCContext&) = delete;
    PCSCContext& operator=(const PCSCContext&) = delete;

    /// Fails with "PCSCContext::Release" when not established.
    void Release();

    /// The readers the resource manager knows, in its order. No reader, or a resource
    /// manager that is not running, gives an empty list; other failures, a failed release
    /// of the list's buffer included, throw.
    std::vector<std::u16string> ListReaders() const;

    /// Gives the handle away to a call that still runs on another thread and will release it
    /// (a connect that outlived its wait limit); the context is then no longer established.
    void Abandon() noexcept { established_ = false; }

    bool Established() const noexcept { return established_; }
    SCARDCONTEXT Handle() const noexcept { return handle_; }

  private:
    SCARDCONTEXT handle_ = 0;
    bool established_ = false;
};

}  // namespace Orvel::PCSC
