// The object the upper layers hold for one card: a channel (reader, adopted handle or, in
// tests, a scripted stand-in) plus the APDU exchange with the per-protocol rules.
#pragma once

#include "carvix/smartcardio/command_apdu.h"
#include "carvix/smartcardio/response_apdu.h"
#include "carvix/support/byte_array.h"
#include "carvix/support/card_channel.h"

#include <PCSC/winscard.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace SmartCardIO {
namespace detail {
class RawLink;
}

/// Owns its channel. Card operations are bracketed by a TransactionGuard; the connection
/// itself never decides what a status word means. Used from one thread at a time.
class CardConnection {
    // APDUs leave only through an open transaction: the guard, and the transport rules it
    // runs (through the library's private RawLink), are the only senders.
    friend class TransactionGuard;
    friend class detail::RawLink;

  public:
    /// A ReaderChannel with a context of its own (the card application uses share mode 2 and
    /// protocols T=0 or T=1, 3). Not connected until Connect.
    CardConnection(std::u16string readerName, std::uint32_t shareMode,
                   std::uint32_t preferredProtocols);
    /// A HandleChannel over a handle that the caller keeps owning; reader name empty.
    CardConnection(SCARDHANDLE handle, std::uint32_t shareMode, std::uint32_t preferredProtocols);
    /// Any channel, for example a scripted one in tests.
    explicit CardConnection(std::unique_ptr<Orvel::PCSC::CardChannel> channel,
                            std::u16string readerName = {});
    virtual ~CardConnection();
    CardConnection(const CardConnection&) = delete;
    CardConnection& operator=(const CardConnection&) = delete;

    virtual Orvel::ByteArray Control(std::uint32_t controlCode,
                                     std::span<const std::uint8_t> input);
    virtual void Connect();
    virtual void Disconnect(std::uint32_t disposition);
    virtual void BeginTransaction();
    virtual void EndTransaction();

    /// The channel's active protocol (1 T=0, 2 T=1, 4 raw, 0 not connected).
    std::uint32_t ActiveProtocol() const;
    const std::u16string& ReaderName() const noexcept { return readerName_; }
    /// How many TransactionGuards are open on this connection (they nest).
    int TransactionDepth() const noexcept { return transactionDepth_; }

  protected:
    /// One logical command: the protocol's exchange, then at most one GET RESPONSE (61xx) or
    /// one resend with the card's length (6Cxx). Every other status is returned as it is.
    virtual ResponseAPDU Transmit(const CommandAPDU& command);
    /// Raw bytes through the channel; `extended` picks the 8192-byte receive buffer.
    virtual Orvel::ByteArray TransmitRaw(std::span<const std::uint8_t> command, bool extended);

  private:
    std::u16string readerName_;
    int transactionDepth_ = 0;  // kept by TransactionGuard
    std::unique_ptr<Orvel::PCSC::CardChannel> channel_;
};

}  // namespace SmartCardIO
