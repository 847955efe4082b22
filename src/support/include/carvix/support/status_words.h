// The interindustry meanings of status words (ISO/IEC 7816-4), for messages and the log.
#pragma once

#include <string>

namespace Orvel {

/// "6A82: the card has no such application or file", or empty for a status word outside the
/// interindustry ranges.
std::string StatusWordMeaning(unsigned statusWord);

/// The status word as four upper-case hexadecimal digits ("6A82").
std::string StatusWordHex(unsigned statusWord);

}  // namespace Orvel
