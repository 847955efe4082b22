// A PC/SC transaction as a scope object: holding a guard proves the code runs inside one.
#pragma once

#include "carvix/smartcardio/card_connection.h"
#include "carvix/support/card_hold.h"

#include <cstdint>

namespace SmartCardIO {

/// Construction connects the connection and begins a transaction; destruction ends the
/// transaction and disconnects, leaving the card as it is. A failed construction leaves no
/// connection behind. Destruction never throws; its failures go to the trace sink.
///
/// Guards nest: a guard opened while another is open on the same connection makes no call to
/// the resource manager at all (no connect, begin, end or disconnect); it only counts the
/// depth. The card stays held from the outermost begin to the outermost end, so an operation
/// that opens its own guard can run inside a larger one, and no other client sees (or resets)
/// the card in between.
class TransactionGuard {
  public:
    explicit TransactionGuard(CardConnection& connection);
    ~TransactionGuard() noexcept;
    TransactionGuard(const TransactionGuard&) = delete;
    TransactionGuard& operator=(const TransactionGuard&) = delete;

    /// Sends one command inside this transaction: the protocol's exchange with its GET
    /// RESPONSE and wrong-length retries. This is the only way an APDU reaches the card.
    ResponseAPDU Transmit(const CommandAPDU& command) const;
    /// Sends bytes as they are, without the protocol's rules (for diagnostics).
    Orvel::ByteArray TransmitRaw(std::span<const std::uint8_t> command, bool extended) const;

    /// The active protocol of the connection (1 T=0, 2 T=1).
    std::uint32_t ActiveProtocol() const { return connection_.ActiveProtocol(); }

  private:
    CardConnection& connection_;
    std::uint8_t disposition_;
    bool outermost_;
    // While any guard lives, this thread holds a card: work that could wait on another
    // program (module loading, asking the user) refuses to start.
    Orvel::CardHold hold_;
};

}  // namespace SmartCardIO
