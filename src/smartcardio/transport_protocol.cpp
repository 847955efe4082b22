#include "carvix/smartcardio/transport_protocol.h"

#include "carvix/smartcardio/card_connection.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_constants.h"
#include "protocols.h"

namespace SmartCardIO {

TransportProtocol::~TransportProtocol() = default;

const TransportProtocol& TransportProtocol::T0() {
    static const detail::T0Protocol instance;
    return instance;
}

const TransportProtocol& TransportProtocol::T1() {
    static const detail::T1Protocol instance;
    return instance;
}

const TransportProtocol& TransportProtocol::GetInstance(const CardConnection& connection) {
    switch (connection.ActiveProtocol()) {
        case Orvel::PCSC::kProtocolT0:
            return T0();
        case Orvel::PCSC::kProtocolT1:
            return T1();
        default:
            throw Orvel::PCSC::PCSCWin32Exception("TransportProtocol::GetInstance",
                                                  Orvel::PCSC::kProtocolMismatch);
    }
}

namespace detail {

ResponseAPDU T1Protocol::Exchange(CardConnection& connection, const CommandAPDU& command) const {
    const Orvel::ByteArray reply = RawLink::Send(connection, command.Bytes(), command.Extended());
    return ResponseAPDU(reply);
}

}  // namespace detail
}  // namespace SmartCardIO
