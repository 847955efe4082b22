// The bench's challenge-response rule: the response to a challenge is the AES-CMAC
// (RFC 4493) of the challenge bytes under the role's key, 16 bytes. The card checks
// EXTERNAL AUTHENTICATE with it, and `carvix-vcard respond` computes it for tests and demos.
#pragma once

#include <span>

#include "apdu.h"

namespace carvix::vcard {

// Throws std::invalid_argument for a key that is not 16, 24 or 32 bytes long.
Bytes ComputeAuthResponse(std::span<const std::uint8_t> key,
                          std::span<const std::uint8_t> challenge);

// Fills out with bytes from the system's cryptographic random generator.
void RandomBytes(std::span<std::uint8_t> out);

// Compares in time independent of where the inputs differ.
bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

}  // namespace carvix::vcard
