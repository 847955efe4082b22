#include "pcsc_client.h"

#include "bench_card.h"

namespace carvix::bench {

namespace {
// pcsc-lite's LONG is 64-bit here; PC/SC codes are 32-bit values.
std::uint32_t Code(LONG rv) {
    return static_cast<std::uint32_t>(rv);
}

void Check(const char* call, LONG rv) {
    if (rv != SCARD_S_SUCCESS) {
        throw PcscError(call, Code(rv));
    }
}
}  // namespace

PcscError::PcscError(const std::string& call, std::uint32_t c)
    : std::runtime_error(call + ": " + pcsc_stringify_error(static_cast<LONG>(c))), code(c) {}

PcscCard::PcscCard(const std::string& reader, DWORD shareMode, DWORD protocols) {
    Check("SCardEstablishContext",
          SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_));
    const LONG rv =
        SCardConnect(context_, reader.c_str(), shareMode, protocols, &card_, &protocol_);
    if (rv != SCARD_S_SUCCESS) {
        SCardReleaseContext(context_);
        throw PcscError("SCardConnect", Code(rv));
    }
    connected_ = true;
}

PcscCard::~PcscCard() {
    if (connected_) {
        SCardDisconnect(card_, SCARD_LEAVE_CARD);
    }
    SCardReleaseContext(context_);
}

std::vector<std::uint8_t> PcscCard::Transmit(const std::vector<std::uint8_t>& command) {
    const SCARD_IO_REQUEST* pci = protocol_ == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    std::vector<std::uint8_t> reply(65538);
    DWORD len = static_cast<DWORD>(reply.size());
    Check("SCardTransmit",
          SCardTransmit(card_, pci, command.data(), static_cast<DWORD>(command.size()), nullptr,
                        reply.data(), &len));
    reply.resize(len);
    return reply;
}

std::string PcscCard::Send(const std::string& commandHex) {
    return Hex(Transmit(Unhex(commandHex)));
}

void PcscCard::Reconnect(DWORD initialization) {
    Check("SCardReconnect",
          SCardReconnect(card_, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                         initialization, &protocol_));
}

void PcscCard::Disconnect(DWORD disposition) {
    if (connected_) {
        connected_ = false;
        Check("SCardDisconnect", SCardDisconnect(card_, disposition));
    }
}

void PcscCard::BeginTransaction() {
    Check("SCardBeginTransaction", SCardBeginTransaction(card_));
}

void PcscCard::EndTransaction(DWORD disposition) {
    Check("SCardEndTransaction", SCardEndTransaction(card_, disposition));
}

}  // namespace carvix::bench
