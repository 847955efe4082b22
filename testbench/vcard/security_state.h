// What the card remembers about the host between commands: the last challenge and the
// roles granted. Everything here ends with a reset or power-off.
#pragma once

#include <array>
#include <bitset>
#include <optional>

#include "card_image.h"

namespace carvix::vcard {

class SecurityState {
  public:
    // Issues a fresh 8-byte challenge, replacing any earlier one.
    const std::array<std::uint8_t, 8>& NewChallenge();

    // Checks a response to the last challenge under the role's key. The challenge is used up
    // by this attempt whatever its outcome; returns 9000, or 6300 for a wrong response and
    // for an attempt without an unused challenge.
    std::uint16_t Authenticate(const Role& role, std::span<const std::uint8_t> response);

    bool Granted(std::uint8_t role) const { return granted_.test(role); }
    bool MayUpdate(const Application& app, std::uint16_t fileId) const;

    // Withdraws roles 0..7 whose bit is set in mask.
    void Withdraw(std::uint8_t mask);
    void Clear();

  private:
    std::optional<std::array<std::uint8_t, 8>> challenge_;
    std::bitset<128> granted_;
};

}  // namespace carvix::vcard
