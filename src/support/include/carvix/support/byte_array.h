// Owned byte sequences used for APDU data, card blocks, hashes and certificates.
#pragma once

#include <cstdint>
#include <vector>

namespace Orvel {

using ByteArray = std::vector<std::uint8_t>;

}  // namespace Orvel
