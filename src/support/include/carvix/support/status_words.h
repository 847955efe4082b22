// The interindustry meanings of status words (ISO/IEC 7816-4), for messages and the log.
#pragma once

#include <string>

namespace Orvel {

/// "6A82: the card has no such application or file", or empty for a status word outside the
/// interindustry ranges.
std::string StatusWordMeaning(unsigned statusWord);

}  // namespace Orvel
