#include "carvix/support/card_hold.h"

#include <string>

namespace Orvel {
namespace {

thread_local int holdDepth = 0;

}  // namespace

CardHold::CardHold() noexcept {
    ++holdDepth;
}

CardHold::~CardHold() {
    --holdDepth;
}

bool CardHold::Active() noexcept {
    return holdDepth > 0;
}

CardHeldError::CardHeldError(const char* what)
    : std::logic_error(std::string(what) +
                       " was attempted while a card is held in a transaction; it must happen "
                       "before the card is taken") {}

void RequireNoCardHeld(const char* what) {
    if (CardHold::Active()) {
        throw CardHeldError(what);
    }
}

}  // namespace Orvel
