#include "carvix/card/card_authentication.h"

#include "carvix/card/applet_command_set.h"
#include "carvix/card/authentication_commands.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/pcsc_constants.h"

#include <utility>

using SmartCardIO::CardConnection;
using SmartCardIO::TransactionGuard;

namespace CardAuthentication {
namespace {

// One transaction: the application selected, then `command` with the guard.
template <typename Command>
auto InApplication(CardConnection& connection, std::uint16_t applicationId, Command&& command) {
    // Resolved first: an application ID without an applet never reaches the card.
    const AppletCommandSet& commands = AppletCommandSet::For(applicationId);
    TransactionGuard guard(connection);
    commands.SelectApplet(guard);
    return std::forward<Command>(command)(guard);
}

// The same on a borrowed handle, through a channel that is discarded afterwards.
template <typename Command>
auto OnHandle(SCARDHANDLE handle, std::uint16_t applicationId, Command&& command) {
    (void)AppletCommandSet::For(applicationId);
    CardConnection connection(handle, Orvel::PCSC::kShareShared, Orvel::PCSC::kProtocolT0OrT1);
    return InApplication(connection, applicationId, std::forward<Command>(command));
}

}  // namespace

Orvel::ByteArray GetChallenge(CardConnection& connection, std::uint16_t applicationId) {
    return InApplication(connection, applicationId, [](const TransactionGuard& guard) {
        return AuthenticationCommands::RequestChallenge(guard);
    });
}

Orvel::ByteArray GetChallenge(SCARDHANDLE handle, std::uint16_t applicationId) {
    return OnHandle(handle, applicationId, [](const TransactionGuard& guard) {
        return AuthenticationCommands::RequestChallenge(guard);
    });
}

void ExternalAuthenticate(CardConnection& connection, std::uint16_t applicationId,
                          std::uint32_t roleId, std::span<const std::uint8_t> response) {
    InApplication(connection, applicationId, [&](const TransactionGuard& guard) {
        AuthenticationCommands::SendResponse(guard, roleId, response);
    });
}

void ExternalAuthenticate(SCARDHANDLE handle, std::uint16_t applicationId, std::uint32_t roleId,
                          std::span<const std::uint8_t> response) {
    OnHandle(handle, applicationId, [&](const TransactionGuard& guard) {
        AuthenticationCommands::SendResponse(guard, roleId, response);
    });
}

void Logout(CardConnection& connection, std::uint16_t applicationId, std::uint32_t roleId) {
    InApplication(connection, applicationId, [&](const TransactionGuard& guard) {
        AuthenticationCommands::SendLogout(guard, roleId);
    });
}

void Logout(SCARDHANDLE handle, std::uint16_t applicationId, std::uint32_t roleId) {
    OnHandle(handle, applicationId, [&](const TransactionGuard& guard) {
        AuthenticationCommands::SendLogout(guard, roleId);
    });
}

}  // namespace CardAuthentication
