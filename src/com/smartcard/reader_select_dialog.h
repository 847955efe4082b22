// Finding the reader to work with: the readers whose card passes a check, one of them taken
// without asking when it is the only one, several offered to the host's reader chooser, and
// none waited for (a card inserted, a reader plugged in) until the user cancels.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/pcsc_context.h"

#include <PCSC/winscard.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace carvix::com {

/// Whether the card behind a connected handle is acceptable: non-zero CARVIX_CARD_* bits
/// (host_hooks.h) saying what it is (a plain `true` is a card of another kind), zero for
/// no. The handle belongs to the caller, who disconnects it afterwards. An exception means no.
using CardCheck = std::function<std::uint32_t(SCARDCONTEXT context, SCARDHANDLE card)>;

/// The base check: every card is acceptable, as a card of another kind.
std::uint32_t AcceptEveryCard(SCARDCONTEXT context, SCARDHANDLE card);

/// What one selection found; an empty reader name means nothing was selected.
struct ReaderSelection {
    std::u16string readerName;
    Orvel::ByteArray atr;
    std::uint32_t activeProtocol = 0;
    /// Nothing was selected because there was nobody to ask (no chooser installed, no desktop
    /// dialog): how many readers qualified then. Unset for a selection or a real cancel.
    std::optional<std::size_t> nobodyAskedAmong;
};

/// One selection on a context that the caller owns and releases. The host's reader chooser
/// or, without one, the desktop dialog is asked (CarvixOfferReaders in host_hooks.h); a
/// dialog stays open and follows the cards as they come and go.
class ReaderSelectDialog {
  public:
    /// Flags: with kMinimalUi a single acceptable reader is taken without asking.
    static constexpr std::uint32_t kMinimalUi = 1;
    /// How long one wait for a change lasts before the host is asked again.
    static constexpr std::uint32_t kWaitSliceMs = 1000;
    /// While a desktop dialog is open: how long each wait for its answer and each wait for
    /// a change lasts, so that a pick is taken and the list kept current within a moment.
    static constexpr std::uint32_t kDialogSliceMs = 200;

    ReaderSelectDialog(const Orvel::PCSC::PCSCContext& context, CardCheck check,
                       std::u16string title);

    /// Runs the selection. Each present card is connected (shared, T=0 or T=1), checked and
    /// disconnected with SCARD_LEAVE_CARD; a card whose connection, check or disconnection
    /// fails is not acceptable. Returns an empty name for a cancel, and also when nobody could
    /// be asked (then with nobodyAskedAmong set). PC/SC failures of the
    /// search itself (listing readers, waiting for a change) throw PCSCWin32Exception.
    ReaderSelection Run();

    std::uint32_t flags = kMinimalUi;
    std::uint32_t shareMode = Orvel::PCSC::kShareShared;
    std::uint32_t preferredProtocols = Orvel::PCSC::kProtocolT0OrT1;

  private:
    // Connects the reader's card, checks it and disconnects it; the check's card bits,
    // zero when not acceptable.
    std::uint32_t Examine(const std::u16string& reader, std::uint32_t& protocol) const;

    const Orvel::PCSC::PCSCContext& context_;
    CardCheck check_;
    std::u16string title_;
};

}  // namespace carvix::com
