#include "carvix/support/card_channel.h"

#include <utility>

namespace Orvel::PCSC {

CardChannel::~CardChannel() = default;

ReaderChannel::ReaderChannel(std::u16string readerName, std::uint32_t shareMode,
                             std::uint32_t preferredProtocols)
    : context_(kScopeUser),
      readerName_(std::move(readerName)),
      shareMode_(shareMode),
      preferredProtocols_(preferredProtocols) {}

ReaderChannel::~ReaderChannel() = default;

void ReaderChannel::Connect() {
    comm_.Connect(context_, readerName_, shareMode_, preferredProtocols_);
}
void ReaderChannel::Disconnect(std::uint32_t disposition) {
    comm_.Disconnect(disposition);
}
void ReaderChannel::BeginTransaction() {
    comm_.BeginTransaction(shareMode_, preferredProtocols_);
}
void ReaderChannel::EndTransaction() {
    comm_.EndTransaction();
}
ByteArray ReaderChannel::Transmit(std::span<const std::uint8_t> command, bool extended) {
    return comm_.Transmit(command, extended);
}
ByteArray ReaderChannel::Control(std::uint32_t controlCode, std::span<const std::uint8_t> input) {
    return comm_.Control(controlCode, input);
}
std::uint32_t ReaderChannel::GetProtocol() const {
    return comm_.ActiveProtocol();
}

HandleChannel::HandleChannel(SCARDHANDLE handle, std::uint32_t shareMode,
                             std::uint32_t preferredProtocols)
    : comm_(handle), shareMode_(shareMode), preferredProtocols_(preferredProtocols) {}

HandleChannel::~HandleChannel() = default;

void HandleChannel::Connect() {}
void HandleChannel::Disconnect(std::uint32_t) {}
void HandleChannel::BeginTransaction() {
    comm_.BeginTransaction(shareMode_, preferredProtocols_);
}
void HandleChannel::EndTransaction() {
    comm_.EndTransaction();
}
ByteArray HandleChannel::Transmit(std::span<const std::uint8_t> command, bool extended) {
    return comm_.Transmit(command, extended);
}
ByteArray HandleChannel::Control(std::uint32_t controlCode, std::span<const std::uint8_t> input) {
    return comm_.Control(controlCode, input);
}
std::uint32_t HandleChannel::GetProtocol() const {
    return comm_.ActiveProtocol();
}

}  // namespace Orvel::PCSC
