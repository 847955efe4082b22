// Why the PC/SC service cannot be reached, in words that name the cause and the fix.
#pragma once

#include <string>

namespace Orvel::PCSC {

/// The socket that pcsc-lite clients connect to: PCSCLITE_CSOCK_NAME, else pcsc-lite's
/// default /run/pcscd/pcscd.comm.
std::string ServiceSocketPath();

/// One or two sentences on why SCardEstablishContext failed with SCARD_E_NO_SERVICE, found
/// out from the socket: no socket at all (pcscd neither runs nor is socket-activated; it
/// also goes away when pcscd was started with --auto-exit and nothing restarts it), a socket
/// nobody answers on (pcscd stopped and left it behind), or a socket that accepts and then
/// closes (pcscd refused this program: polkit grants PC/SC only to an active local session).
std::string ServiceFailureText();

}  // namespace Orvel::PCSC
