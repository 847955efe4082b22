// The module's message string table, looked up by numeric ID.
#pragma once

#include <cstdint>
#include <string>

namespace Orvel {

/// The text for `id`, or an empty text for an unknown ID.
std::u16string LoadString(std::uint32_t id);

}  // namespace Orvel
