#include "carvix/support/status_words.h"

#include <cstdio>

namespace Orvel {
namespace {

struct Meaning {
    unsigned sw;
    const char* text;
};

// Interindustry status words (ISO/IEC 7816-4), exact ones first.
constexpr Meaning kExact[] = {
    {0x6281, "part of the returned data may be corrupted"},
    {0x6282, "end of file reached before the expected length was read"},
    {0x6283, "the selected file is invalidated"},
    {0x6300, "verification failed"},
    {0x6581, "memory failure"},
    {0x6700, "wrong length"},
    {0x6881, "logical channel not supported"},
    {0x6882, "secure messaging not supported"},
    {0x6981, "command incompatible with the file structure"},
    {0x6982, "security status not satisfied"},
    {0x6983, "authentication method blocked"},
    {0x6984, "reference data not usable"},
    {0x6985, "conditions of use not satisfied"},
    {0x6986, "command not allowed (no current file)"},
    {0x6987, "expected secure messaging data objects missing"},
    {0x6988, "incorrect secure messaging data objects"},
    {0x6A80, "incorrect parameters in the data field"},
    {0x6A81, "function not supported"},
    {0x6A82, "the card has no such application or file"},
    {0x6A83, "record not found"},
    {0x6A84, "not enough memory space in the file"},
    {0x6A86, "incorrect parameters P1-P2"},
    {0x6A88, "referenced data not found"},
    {0x6B00, "wrong parameters P1-P2"},
    {0x6D00, "instruction not supported"},
    {0x6E00, "class not supported"},
    {0x6F00, "no precise diagnosis"},
};

}  // namespace

std::string StatusWordHex(unsigned sw) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", sw & 0xFFFFu);
    return text;
}

std::string StatusWordMeaning(unsigned sw) {
    sw &= 0xFFFFu;
    for (const Meaning& m : kExact) {
        if (m.sw == sw) {
            return StatusWordHex(sw) + ": " + m.text;
        }
    }
    if ((sw & 0xFFF0u) == 0x63C0u) {
        return StatusWordHex(sw) + ": verification failed, " + std::to_string(sw & 0xFu) +
               " tries left";
    }
    if ((sw & 0xFF00u) == 0x6100u) {
        return StatusWordHex(sw) + ": " + std::to_string(sw & 0xFFu) + " response bytes waiting";
    }
    if ((sw & 0xFF00u) == 0x6C00u) {
        return StatusWordHex(sw) + ": wrong expected length (" + std::to_string(sw & 0xFFu) +
               " bytes available)";
    }
    if ((sw & 0xFF00u) == 0x6400u || (sw & 0xFF00u) == 0x6500u) {
        return StatusWordHex(sw) + ": the card's memory is unchanged or failed";
    }
    return {};
}

}  // namespace Orvel
