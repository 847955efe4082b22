// A PC/SC transaction as a scope object: holding a guard proves the code runs inside one.
#pragma once

#include "carvix/smartcardio/card_connection.h"

#include <cstdint>

namespace SmartCardIO {

/// Construction connects the connection and begins a transaction; destruction ends the
/// transaction and disconnects, leaving the card as it is. A failed construction leaves no
/// connection behind. Destruction never throws; its failures go to the trace sink.
class TransactionGuard {
  public:
    explicit TransactionGuard(CardConnection& connection);
    ~TransactionGuard() noexcept;
    TransactionGuard(const TransactionGuard&) = delete;
    TransactionGuard& operator=(const TransactionGuard&) = delete;

    CardConnection& Connection() const noexcept { return connection_; }

  private:
    CardConnection& connection_;
    std::uint8_t disposition_;
};

}  // namespace SmartCardIO
