#include "card_checks.h"

#include "carvix/automation/host_hooks.h"

#include "carvix/card/applet_command_set.h"
#include "carvix/contactless/contactless_card_check.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_constants.h"

namespace carvix::com {
namespace {

constexpr std::uint16_t kVlApplication = 1;
constexpr std::uint16_t kZkApplication = 5;

bool Selects(std::uint16_t application, const SmartCardIO::TransactionGuard& guard) {
    try {
        AppletCommandSet::For(application).SelectApplet(guard);
        return true;
    } catch (const JavaCard::AppletException&) {
        return false;
    }
}

}  // namespace

CardApplications ProbeApplications(SCARDHANDLE card) {
    // The connection borrows the handle: closing the guard leaves it connected.
    SmartCardIO::CardConnection connection(card, Orvel::PCSC::kShareShared,
                                           Orvel::PCSC::kProtocolT0OrT1);
    SmartCardIO::TransactionGuard guard(connection);
    CardApplications found;
    found.vl = Selects(kVlApplication, guard);
    found.zk = Selects(kZkApplication, guard);
    return found;
}

std::uint32_t ContactCardCheck(SCARDCONTEXT, SCARDHANDLE card) {
    const CardApplications found = ProbeApplications(card);
    return (found.vl ? CARVIX_CARD_VL : 0u) | (found.zk ? CARVIX_CARD_ZK : 0u);
}

std::uint32_t ContactlessCardCheck(SCARDCONTEXT, SCARDHANDLE card) {
    return contactless::CheckContactlessCard(card) ? CARVIX_CARD_CONTACTLESS : 0u;
}

}  // namespace carvix::com
