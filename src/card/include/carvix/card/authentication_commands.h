// The three commands of challenge-and-response authentication to the card application:
// GET CHALLENGE, EXTERNAL AUTHENTICATE and the role logout.
#pragma once

#include "carvix/smartcardio/command_apdu.h"
#include "carvix/support/byte_array.h"

#include <cstdint>
#include <span>

namespace SmartCardIO {
class TransactionGuard;
}

/// Byte layout and exchange of the authentication commands. Each exchange runs inside the
/// caller's transaction (the guard is the proof), after the application has been selected,
/// and throws `JavaCard::AppletException` for a status word other than 9000.
namespace AuthenticationCommands {

/// GET CHALLENGE asks for this many bytes; whatever the card returns is the challenge.
inline constexpr std::uint32_t kChallengeLength = 8;

/// 00 84 00 00 08.
SmartCardIO::CommandAPDU GetChallenge();
/// 00 82 00 (0x80 | low byte of the role ID) with the response as data: a short APDU for a
/// response of fewer than 256 bytes, an extended one otherwise. An empty response, or one
/// longer than an extended APDU carries, raises `SmartCardIO::SCIOException`.
SmartCardIO::CommandAPDU ExternalAuthenticate(std::uint32_t roleId,
                                              std::span<const std::uint8_t> response);
/// B0 22 00 mask: the role's bit for role IDs 0 to 7 (the count wraps every 32 IDs, so 32
/// gives 0x01 again); 0x00 for 8 to 31.
SmartCardIO::CommandAPDU Logout(std::uint32_t roleId);

/// Sends GET CHALLENGE and returns the card's data.
Orvel::ByteArray RequestChallenge(const SmartCardIO::TransactionGuard& guard);
/// Sends EXTERNAL AUTHENTICATE for the role with the caller's response.
void SendResponse(const SmartCardIO::TransactionGuard& guard, std::uint32_t roleId,
                  std::span<const std::uint8_t> response);
/// Sends the logout command for the role.
void SendLogout(const SmartCardIO::TransactionGuard& guard, std::uint32_t roleId);

}  // namespace AuthenticationCommands
