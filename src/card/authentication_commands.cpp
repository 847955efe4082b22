#include "carvix/card/authentication_commands.h"

#include "carvix/smartcardio/response_apdu.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"

using SmartCardIO::CommandAPDU;
using SmartCardIO::TransactionGuard;

namespace AuthenticationCommands {
namespace {

constexpr std::uint16_t kStatusOk = 0x9000;
// The longest response a short APDU carries in its one-byte Lc.
constexpr std::size_t kShortDataLimit = 256;

Orvel::ByteArray Send(const TransactionGuard& guard, const CommandAPDU& command) {
    SmartCardIO::ResponseAPDU response = guard.Transmit(command);
    if (response.SW() != kStatusOk) {
        throw JavaCard::AppletException(response.SW());
    }
    return response.Data();
}

}  // namespace

CommandAPDU GetChallenge() {
    return CommandAPDU(0x00, 0x84, 0x00, 0x00, kChallengeLength, false);
}

CommandAPDU ExternalAuthenticate(std::uint32_t roleId, std::span<const std::uint8_t> response) {
    const auto p2 = static_cast<std::uint8_t>(0x80 | (roleId & 0xFF));
    const bool extended = response.size() >= kShortDataLimit;
    return CommandAPDU(0x00, 0x82, 0x00, p2, Orvel::ByteArray(response.begin(), response.end()),
                       extended);
}

CommandAPDU Logout(std::uint32_t roleId) {
    const auto mask = static_cast<std::uint8_t>((1u << (roleId % 32)) & 0xFF);
    return CommandAPDU(0xB0, 0x22, 0x00, mask);
}

Orvel::ByteArray RequestChallenge(const TransactionGuard& guard) {
    Orvel::ByteArray challenge = Send(guard, GetChallenge());
    // An answer cut short or run long is not the challenge the card will check the response
    // against: handing it out would only make the authentication fail later, unexplained.
    if (challenge.size() != kChallengeLength) {
        throw CardException(Orvel::Format("The card returned a challenge of %d bytes instead of %u",
                                          static_cast<int>(challenge.size()), kChallengeLength));
    }
    return challenge;
}

void SendResponse(const TransactionGuard& guard, std::uint32_t roleId,
                  std::span<const std::uint8_t> response) {
    Send(guard, ExternalAuthenticate(roleId, response));
}

void SendLogout(const TransactionGuard& guard, std::uint32_t roleId) {
    Send(guard, Logout(roleId));
}

}  // namespace AuthenticationCommands
