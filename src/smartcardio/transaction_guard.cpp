#include "carvix/smartcardio/transaction_guard.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/trace.h"

namespace SmartCardIO {
using Orvel::TraceSwallowed;

TransactionGuard::TransactionGuard(CardConnection& connection)
    : connection_(connection),
      disposition_(Orvel::PCSC::kLeaveCard),
      outermost_(connection.transactionDepth_ == 0) {
    if (!outermost_) {
        // The outermost guard already holds the card for this connection: no other client can
        // reach it (or reset it) until that guard ends, so a nested begin and end would only be
        // two more round trips to the resource manager.
        ++connection_.transactionDepth_;
        return;
    }
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
    ++connection_.transactionDepth_;
}

TransactionGuard::~TransactionGuard() noexcept {
    --connection_.transactionDepth_;
    if (!outermost_) {
        return;
    }
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

ResponseAPDU TransactionGuard::Transmit(const CommandAPDU& command) const {
    return connection_.Transmit(command);
}

Orvel::ByteArray TransactionGuard::TransmitRaw(std::span<const std::uint8_t> command,
                                               bool extended) const {
    return connection_.TransmitRaw(command, extended);
}

}  // namespace SmartCardIO
