// Waiting for a card that another program holds, for a bounded time.
//
// pcsc-lite lets a connect wait, without limit, while another program holds the card in a
// transaction, and a transaction start retries without limit; a card connected exclusively
// (as GnuPG's scdaemon does) refuses every connect at once. Connects (ConnectWithin) and
// transaction starts on handles connected earlier (WaitForFreeCard) wait at most the card
// wait limit (5 seconds unless the host set another) for the other program to let go; after
// that the work fails with CardInUseException and nothing has been sent to the card. With a
// substitute for the client library installed (the unit tests' in-memory cards) nothing is
// bounded: a substitute never blocks.
#pragma once

#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_context.h"

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

/// SCardConnect on `context`, bounded by the card wait limit. The connect runs on a thread of
/// its own: pcsc-lite lets it wait, without limit, while another program holds the card in a
/// transaction, and refuses it at once (SCARD_E_SHARING_VIOLATION) while another program has
/// it exclusively, which is retried until the limit. Returns the connect's code, with `handle`
/// and `protocol` set on success. When the card is still held at the limit, the context is
/// given to the connect that still runs (which disconnects and releases it when it returns;
/// `context` is no longer established) and CardInUseException is raised.
std::uint32_t ConnectWithin(PCSCContext& context, const std::string& reader,
                            std::uint32_t shareMode, std::uint32_t preferredProtocols,
                            SCARDHANDLE& handle, std::uint32_t& protocol);

/// For a handle connected earlier (another program may have begun a transaction since, and a
/// transaction start would retry without limit): returns once the card in `reader` can be
/// connected to, probing it on a context and thread of its own. Raises CardInUseException
/// when the card is still held at the limit.
void WaitForFreeCard(const std::string& reader);

/// How many connects and probes still run on threads of their own (waiting for a card that
/// another program held beyond the limit, or about to end); code of this library runs until
/// they end, so the module must not be unloaded while this is not 0.
std::size_t PendingCardProbes() noexcept;

}  // namespace Orvel::PCSC
