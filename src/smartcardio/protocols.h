// The two concrete transport protocols (private to the library).
#pragma once

#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transport_protocol.h"

#include <span>

namespace SmartCardIO::detail {

/// The transport rules' way to the channel: raw bytes out, raw bytes back.
class RawLink {
  public:
    static Orvel::ByteArray Send(CardConnection& connection, std::span<const std::uint8_t> bytes,
                                 bool extended) {
        return connection.TransmitRaw(bytes, extended);
    }
};

/// T=1: the command goes out as it is; the extended flag picks the receive buffer.
class T1Protocol final : public TransportProtocol {
  public:
    ResponseAPDU Exchange(CardConnection& connection, const CommandAPDU& command) const override;
};

/// T=0: every case is mapped onto short TPDUs, with GET RESPONSE for case 4 and long
/// case 2 answers, and a resend when the card names the right length (6Cxx).
class T0Protocol final : public TransportProtocol {
  public:
    ResponseAPDU Exchange(CardConnection& connection, const CommandAPDU& command) const override;
};

}  // namespace SmartCardIO::detail
