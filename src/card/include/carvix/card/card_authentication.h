// Challenge-and-response authentication on a card handle that someone else owns (the
// authentication object), so that the security status the card grants stays with that handle
// for the writes that follow.
#pragma once

#include "carvix/support/byte_array.h"

#include <PCSC/winscard.h>

#include <cstdint>
#include <span>

namespace SmartCardIO {
class CardConnection;
}

/// Each operation runs in one card transaction: it selects the application by the AID of
/// `applicationId` (AppletCommandSet::For) and sends its command. Nothing is kept between
/// operations; the card alone remembers the challenge and the granted roles.
///
/// The handle forms attach a temporary channel to `handle` (shared mode, T=0 or T=1), which
/// they never disconnect. The connection forms run on the given connection (a scripted one in
/// tests).
///
/// Failures: `Orvel::PCSC::PCSCWin32Exception` (attaching, transaction, exchange),
/// `JavaCard::AppletException` (a status word other than 9000), `CardException` for an
/// application ID without an applet, raised before the card is touched.
namespace CardAuthentication {

/// The challenge bytes the card returns to GET CHALLENGE.
Orvel::ByteArray GetChallenge(SCARDHANDLE handle, std::uint16_t applicationId);
Orvel::ByteArray GetChallenge(SmartCardIO::CardConnection& connection, std::uint16_t applicationId);

/// Hands the caller's response to the card for the role (EXTERNAL AUTHENTICATE).
void ExternalAuthenticate(SCARDHANDLE handle, std::uint16_t applicationId, std::uint32_t roleId,
                          std::span<const std::uint8_t> response);
void ExternalAuthenticate(SmartCardIO::CardConnection& connection, std::uint16_t applicationId,
                          std::uint32_t roleId, std::span<const std::uint8_t> response);

/// Withdraws the role on the card; the connection stays as it is.
void Logout(SCARDHANDLE handle, std::uint16_t applicationId, std::uint32_t roleId);
void Logout(SmartCardIO::CardConnection& connection, std::uint16_t applicationId,
            std::uint32_t roleId);

}  // namespace CardAuthentication
