// Which thread holds a card in a transaction. While a card is held, nothing may run that can
// wait on another program: loading or initialising a PKCS#11 module (a PC/SC-based module
// connects to the very card we hold and waits for our transaction to end), asking the user
// (a chooser or a PIN prompt). Code that could block that way calls RequireNoCardHeld first,
// so a mistake in the order of work is a clear error instead of a hang.
#pragma once

#include <stdexcept>

namespace Orvel {

/// Marks the calling thread as holding a card for its lifetime; nests.
class CardHold {
  public:
    CardHold() noexcept;
    ~CardHold();
    CardHold(const CardHold&) = delete;
    CardHold& operator=(const CardHold&) = delete;

    /// Whether the calling thread holds a card in a transaction.
    static bool Active() noexcept;
};

/// Raised by RequireNoCardHeld: work that may wait on another program was started while the
/// thread holds a card.
class CardHeldError : public std::logic_error {
  public:
    explicit CardHeldError(const char* what);
};

/// Raises CardHeldError naming `what` when the calling thread holds a card.
void RequireNoCardHeld(const char* what);

}  // namespace Orvel
