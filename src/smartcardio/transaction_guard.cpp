#include "carvix/smartcardio/transaction_guard.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/trace.h"

namespace SmartCardIO {
using Orvel::TraceSwallowed;

TransactionGuard::TransactionGuard(CardConnection& connection)
    : connection_(connection), disposition_(Orvel::PCSC::kLeaveCard) {
    connection_.Connect();
    try {
        connection_.BeginTransaction();
    } catch (...) {
        // Without this, the connection would stay connected and the next guard on it would
        // fail with "PCSCComm::Connect" instead of the card's real state.
        try {
            connection_.Disconnect(disposition_);
        } catch (const Orvel::Exception& e) {
            TraceSwallowed(u"Disconnect after a failed transaction start: ", e);
        } catch (...) {
        }
        throw;
    }
}

TransactionGuard::~TransactionGuard() noexcept {
    try {
        connection_.EndTransaction();
    } catch (const Orvel::Exception& e) {
        TraceSwallowed(u"Ending the transaction failed: ", e);
    } catch (...) {
    }
    try {
        connection_.Disconnect(disposition_);
    } catch (const Orvel::Exception& e) {
        TraceSwallowed(u"Disconnecting after the transaction failed: ", e);
    } catch (...) {
    }
}

}  // namespace SmartCardIO
