// The per-protocol rules that turn one command into one or more transmissions.
#pragma once

#include "carvix/smartcardio/command_apdu.h"
#include "carvix/smartcardio/response_apdu.h"

namespace SmartCardIO {

class CardConnection;

/// Stateless; the T=0 and T=1 instances are process-wide, created once on first use.
class TransportProtocol {
  public:
    virtual ~TransportProtocol();

    /// Sends `command` by this protocol's rules through the connection's raw transmission.
    virtual ResponseAPDU Exchange(CardConnection& connection, const CommandAPDU& command) const = 0;

    /// The instance for the connection's active protocol: T=0 (1) or T=1 (2). Any other
    /// protocol fails with PCSCWin32Exception "TransportProtocol::GetInstance", 0x8010000F.
    static const TransportProtocol& GetInstance(const CardConnection& connection);
    static const TransportProtocol& T0();
    static const TransportProtocol& T1();

  protected:
    TransportProtocol() = default;
    TransportProtocol(const TransportProtocol&) = delete;
    TransportProtocol& operator=(const TransportProtocol&) = delete;
};

}  // namespace SmartCardIO
