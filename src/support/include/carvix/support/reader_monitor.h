// The readers and their cards as the resource manager sees them, and waiting for that to
// change: a card inserted or removed, a reader plugged in or unplugged.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/pcsc_context.h"

#include <PCSC/winscard.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Orvel::PCSC {

/// One reader at one moment: its name, the SCARD_STATE_ bits, how many times a card went in
/// or out so far (as the resource manager counts; 0 where it does not) and the card's answer
/// to reset when a card is present.
struct ReaderState {
    std::u16string name;
    std::uint32_t state = 0;
    std::uint32_t events = 0;
    ByteArray atr;

    bool CardPresent() const noexcept { return (state & SCARD_STATE_PRESENT) != 0; }
    /// Present and neither mute nor held exclusively by another application.
    bool CardReachable() const noexcept {
        return CardPresent() && (state & (SCARD_STATE_MUTE | SCARD_STATE_EXCLUSIVE)) == 0;
    }
};

/// Reads the readers' states on a context it does not own and waits for them to change
/// (SCardGetStatusChange with the readers and the `\\?PnP?\Notification` pseudo-reader).
/// Failures throw PCSCWin32Exception with the call's name.
class ReaderMonitor {
  public:
    explicit ReaderMonitor(const PCSCContext& context) : context_(context) {}

    /// Lists the readers and reads their states now, without waiting; what later waits
    /// compare against. No reader gives an empty list.
    std::vector<ReaderState> Refresh();

    /// Waits at most `timeoutMs` milliseconds for anything to differ from the last Refresh.
    /// True when something changed (call Refresh to see what), false when the time ran out.
    bool Wait(std::uint32_t timeoutMs);

  private:
    const PCSCContext& context_;
    std::vector<std::string> names_;  // UTF-8 names the states point into; the last is PnP
    std::vector<SCARD_READERSTATE> states_;
};

}  // namespace Orvel::PCSC
