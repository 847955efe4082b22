#include "carvix/support/status_words.h"

#include <cstdio>

namespace Orvel {
namespace {

struct Meaning {
    unsigned sw;
    const char* text;
};

// Interindustry status words (ISO/IEC 7816-4), exact ones first. The client generator
// (scripts/generate-clients) reads these three tables for the Python and browser clients.
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

// Status words whose low bits are a number: the meaning is `before`, the number, `after`.
struct Counted {
    unsigned mask;
    unsigned value;
    const char* before;
    const char* after;
};

constexpr Counted kCounted[] = {
    {0xFFF0, 0x63C0, "verification failed, ", " tries left"},
    {0xFF00, 0x6100, "", " response bytes waiting"},
    {0xFF00, 0x6C00, "wrong expected length (", " bytes available)"},
};

// Whole ranges with one meaning.
constexpr Meaning kRanges[] = {
    {0x6400, "the card's memory is unchanged or failed"},
    {0x6500, "the card's memory is unchanged or failed"},
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
    for (const Counted& c : kCounted) {
        if ((sw & c.mask) == c.value) {
            return StatusWordHex(sw) + ": " + c.before + std::to_string(sw & ~c.mask) + c.after;
        }
    }
    for (const Meaning& r : kRanges) {
        if ((sw & 0xFF00u) == r.sw) {
            return StatusWordHex(sw) + ": " + r.text;
        }
    }
    return {};
}

}  // namespace Orvel
