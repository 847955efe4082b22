// One PC/SC card connection: either owned (connected by Connect, disconnected by
// Disconnect or the destructor) or attached to a card handle that someone else owns.
#pragma once

#include <chrono>

#include "carvix/support/byte_array.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/pcsc_context.h"

#include <PCSC/winscard.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Orvel::PCSC {

/// What SCardStatus reports about a connected card.
struct CardStatus {
    std::vector<std::u16string> readerNames;
    std::uint32_t state = 0;
    std::uint32_t protocol = 0;
    ByteArray atr;
};

/// Every failed call throws PCSCWin32Exception with the PC/SC code and the call's name;
/// a call in the wrong state throws it with 0x80100001 and the name of the check.
/// Not thread-safe; used from one thread at a time.
class PCSCComm {
  public:
    /// Not connected.
    PCSCComm() noexcept = default;
    /// Connected and attached to `handle`, which this object never disconnects; the active
    /// protocol is read from the card (ProtocolOf).
    explicit PCSCComm(SCARDHANDLE handle);
    /// Disconnects (leaving the card) when connected and owned; failures are swallowed.
    ~PCSCComm() noexcept;
    PCSCComm(const PCSCComm&) = delete;
    PCSCComm& operator=(const PCSCComm&) = delete;

    /// An empty reader name is passed to the resource manager as a null name.
    void Connect(PCSCContext& context, std::u16string_view readerName, std::uint32_t shareMode,
                 std::uint32_t preferredProtocols);
    void Reconnect(std::uint32_t shareMode, std::uint32_t preferredProtocols,
                   std::uint32_t initialization);
    void Disconnect(std::uint32_t disposition);

    CardStatus Status() const;
    static std::uint32_t ProtocolOf(SCARDHANDLE handle);

    /// Sends raw command bytes. The receive buffer holds 8192 bytes when `extended` is set,
    /// 512 otherwise; a longer answer is an "SCardTransmit" failure, never a truncation.
    ByteArray Transmit(std::span<const std::uint8_t> command, bool extended);
    ByteArray Control(std::uint32_t controlCode, std::span<const std::uint8_t> input);

    /// Starts a transaction. A reset of the card by another application (reported by the
    /// start or by the status read after it) is absorbed once: the card is reconnected with
    /// a reset, using the given share mode and protocols, and the start is tried once more.
    void BeginTransaction(std::uint32_t shareMode, std::uint32_t preferredProtocols);
    void EndTransaction();

    bool Connected() const noexcept { return connected_; }
    bool Attached() const noexcept { return attached_; }
    std::uint32_t ActiveProtocol() const noexcept { return activeProtocol_; }
    SCARDHANDLE Handle() const noexcept { return handle_; }

  private:
    /// Whether the card of the connection is gone, as SCardStatus tells after an exchange that
    /// broke off, looking again for up to `wait` while the card still shows as present.
    bool CardWasRemoved(std::chrono::milliseconds wait) noexcept;
    void AssertConnected() const;

    SCARDHANDLE handle_ = 0;
    std::uint32_t activeProtocol_ = kProtocolUndefined;
    bool connected_ = false;
    bool attached_ = false;
    // Connected by this object and no transaction begun since: no other program can have
    // taken the card in between, so the first start needs no wait for it.
    bool justConnected_ = false;
    std::string readerName_;  // for the log; empty for a handle attached from elsewhere
};

}  // namespace Orvel::PCSC
