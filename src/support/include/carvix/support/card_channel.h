// The channel through which the card link reaches one card, and its two PC/SC
// implementations: ReaderChannel (owns its context and connection, connects by reader name)
// and HandleChannel (adopts a card handle that another object owns and keeps connected).
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/pcsc_comm.h"
#include "carvix/support/pcsc_context.h"

#include <cstdint>
#include <span>
#include <string>

namespace Orvel::PCSC {

/// One card, reached through PC/SC or, in tests, a scripted stand-in. Every failure is a
/// PCSCWin32Exception. Used from one thread at a time.
class CardChannel {
  public:
    virtual ~CardChannel();
    virtual void Connect() = 0;
    virtual void Disconnect(std::uint32_t disposition) = 0;
    virtual void BeginTransaction() = 0;
    virtual void EndTransaction() = 0;
    /// Raw bytes out, raw bytes back; `extended` picks the 8192-byte receive buffer.
    virtual ByteArray Transmit(std::span<const std::uint8_t> command, bool extended) = 0;
    virtual ByteArray Control(std::uint32_t controlCode, std::span<const std::uint8_t> input) = 0;
    /// The active protocol: 1 for T=0, 2 for T=1, 4 raw (pcsc-lite), 0 when not connected.
    virtual std::uint32_t GetProtocol() const = 0;

  protected:
    CardChannel() = default;
    CardChannel(const CardChannel&) = delete;
    CardChannel& operator=(const CardChannel&) = delete;
};

/// Connects to a named reader through a context of its own, which it establishes at
/// construction. Connected only between Connect and Disconnect.
class ReaderChannel final : public CardChannel {
  public:
    ReaderChannel(std::u16string readerName, std::uint32_t shareMode,
                  std::uint32_t preferredProtocols);
    ~ReaderChannel() override;

    void Connect() override;
    void Disconnect(std::uint32_t disposition) override;
    void BeginTransaction() override;
    void EndTransaction() override;
    ByteArray Transmit(std::span<const std::uint8_t> command, bool extended) override;
    ByteArray Control(std::uint32_t controlCode, std::span<const std::uint8_t> input) override;
    std::uint32_t GetProtocol() const override;

    const std::u16string& ReaderName() const noexcept { return readerName_; }

  private:
    // Declared before the connection so that the connection is closed first.
    PCSCContext context_;
    PCSCComm comm_;
    std::u16string readerName_;
    std::uint32_t shareMode_;
    std::uint32_t preferredProtocols_;
};

/// Serves a card handle owned by someone else (the authentication object). Connect and
/// Disconnect do nothing and the handle is never released here, so the same handle can serve
/// several guarded operations in a row.
class HandleChannel final : public CardChannel {
  public:
    HandleChannel(SCARDHANDLE handle, std::uint32_t shareMode, std::uint32_t preferredProtocols);
    ~HandleChannel() override;

    void Connect() override;
    void Disconnect(std::uint32_t disposition) override;
    void BeginTransaction() override;
    void EndTransaction() override;
    ByteArray Transmit(std::span<const std::uint8_t> command, bool extended) override;
    ByteArray Control(std::uint32_t controlCode, std::span<const std::uint8_t> input) override;
    std::uint32_t GetProtocol() const override;

  private:
    PCSCComm comm_;
    std::uint32_t shareMode_;
    std::uint32_t preferredProtocols_;
};

}  // namespace Orvel::PCSC
