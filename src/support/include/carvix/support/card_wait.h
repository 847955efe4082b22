// Waiting for a card that another program holds, for a bounded time.
//
// pcsc-lite lets a connect wait, without limit, while another program holds the card in a
// transaction, and a transaction start retries without limit; a card connected exclusively
// (as GnuPG's scdaemon does) refuses every connect at once. Before we connect to a card or
// begin a transaction on a handle we already have, WaitForFreeCard finds out whether another
// program holds the card and waits at most the card wait limit (5 seconds unless the host
// set another) for it to let go; after that the work fails with CardInUseException and
// nothing has been sent to the card. The waits make up for pcsc-lite's own; with a substitute
// for the client library installed (the unit tests' in-memory cards) they do nothing.
#pragma once

#include "carvix/support/exceptions.h"

#include <PCSC/winscard.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Orvel::PCSC {

/// The default card wait limit.
inline constexpr std::uint32_t kDefaultCardWaitMilliseconds = 5000;

/// Where the limit comes from: a function that returns it in milliseconds (the module installs
/// one that asks the host's setting). Null restores the default.
using CardWaitLimitSource = std::uint32_t (*)();
void SetCardWaitLimitSource(CardWaitLimitSource source) noexcept;
std::chrono::milliseconds CardWaitLimit() noexcept;

/// The card in a reader stayed held by another program for the whole wait limit.
/// Code SCARD_E_SHARING_VIOLATION (0x8010000B); the message names the reader, the limit and
/// what to do.
class CardInUseException : public PCSCWin32Exception {
  public:
    CardInUseException(const char* operationName, const std::string& reader,
                       std::chrono::milliseconds waited);
    ~CardInUseException() override;
    CardInUseException(const CardInUseException&) = default;
    CardInUseException& operator=(const CardInUseException&) = default;
};

/// Returns once the card in `reader` can be connected to without waiting: at once when no
/// other program is connected to it. The reader's state is asked on a short-lived context of
/// its own (`context` is the caller's and is not used for it). Raises CardInUseException when
/// another program still holds the card when the limit runs out. Anything else that goes wrong is
/// left to the connect that follows, which reports it.
void WaitForFreeCard(SCARDCONTEXT context, const std::string& reader);

/// The same for a handle the caller is already connected with (its own connection makes the
/// card look in use, so the card is always probed).
void WaitForFreeCard(const std::string& reader);

/// How many probes are still waiting for a card that another program held beyond the limit.
/// A probe runs on a thread of its own and ends when the card is let go; code of this library
/// runs until then, so the module must not be unloaded while this is not 0.
std::size_t PendingCardProbes() noexcept;

}  // namespace Orvel::PCSC
