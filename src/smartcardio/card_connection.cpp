#include "carvix/smartcardio/card_connection.h"

#include "carvix/smartcardio/transport_protocol.h"
#include "carvix/support/framework_error.h"

#include <utility>

namespace SmartCardIO {

CardConnection::CardConnection(std::u16string readerName, std::uint32_t shareMode,
                               std::uint32_t preferredProtocols)
    : readerName_(readerName),
      channel_(std::make_unique<Orvel::PCSC::ReaderChannel>(std::move(readerName), shareMode,
                                                            preferredProtocols)) {}

CardConnection::CardConnection(SCARDHANDLE handle, std::uint32_t shareMode,
                               std::uint32_t preferredProtocols)
    : channel_(
          std::make_unique<Orvel::PCSC::HandleChannel>(handle, shareMode, preferredProtocols)) {}

CardConnection::CardConnection(std::unique_ptr<Orvel::PCSC::CardChannel> channel,
                               std::u16string readerName)
    : readerName_(std::move(readerName)), channel_(std::move(channel)) {
    if (!channel_) {
        Orvel::ThrowInvalidArgument();
    }
}

CardConnection::~CardConnection() = default;

ResponseAPDU CardConnection::Transmit(const CommandAPDU& command) {
    const TransportProtocol& protocol = TransportProtocol::GetInstance(*this);
    ResponseAPDU response = protocol.Exchange(*this, command);
    if (response.SW1() == 0x61) {
        // The card has more to say: ask for it once, in the form of the original command.
        const CommandAPDU getResponse(0x00, 0xC0, 0x00, 0x00, response.SW2(), command.Extended());
        return protocol.Exchange(*this, getResponse);
    }
    if (response.SW1() == 0x6C) {
        // Wrong length: send the command again with the length the card named.
        return protocol.Exchange(*this, CommandAPDU(command, response.SW2()));
    }
    return response;
}

Orvel::ByteArray CardConnection::Control(std::uint32_t controlCode,
                                         std::span<const std::uint8_t> input) {
    return channel_->Control(controlCode, input);
}
void CardConnection::Connect() {
    channel_->Connect();
}
void CardConnection::Disconnect(std::uint32_t disposition) {
    channel_->Disconnect(disposition);
}
void CardConnection::BeginTransaction() {
    channel_->BeginTransaction();
}
void CardConnection::EndTransaction() {
    channel_->EndTransaction();
}
Orvel::ByteArray CardConnection::TransmitRaw(std::span<const std::uint8_t> command, bool extended) {
    return channel_->Transmit(command, extended);
}
std::uint32_t CardConnection::ActiveProtocol() const {
    return channel_->GetProtocol();
}

}  // namespace SmartCardIO
