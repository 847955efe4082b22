#include "failure_text.h"

#include "carvix/support/pcsc_service.h"

#include <cstdint>
#include <cstdio>

namespace carvix::cli {
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

std::string Hex4(unsigned sw) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", sw & 0xFFFFu);
    return text;
}

std::string CardHint(unsigned sw, Addressed addressed) {
    switch (sw) {
        case 0x6A82:
            return addressed == Addressed::Zk   ? "; is this a ZK card?"
                   : addressed == Addressed::Vl ? "; is this a VL card?"
                                                : "; is this the right card?";
        case 0x6982:
        case 0x6985:
            return "; the card wants authentication first (carvix write authenticates with "
                   "--role and --respond-with)";
        case 0x6983:
            return "; the card refuses this authentication for good";
        case 0x6A86:
        case 0x6B00:
            return "; is the application ID (--app) the right one for this block?";
        default:
            return "";
    }
}

}  // namespace

std::string StatusWordMeaning(unsigned sw) {
    sw &= 0xFFFFu;
    for (const Meaning& m : kExact) {
        if (m.sw == sw) {
            return Hex4(sw) + ": " + m.text;
        }
    }
    if ((sw & 0xFFF0u) == 0x63C0u) {
        return Hex4(sw) + ": verification failed, " + std::to_string(sw & 0xFu) + " tries left";
    }
    if ((sw & 0xFF00u) == 0x6C00u) {
        return Hex4(sw) + ": wrong expected length (" + std::to_string(sw & 0xFFu) +
               " bytes available)";
    }
    if ((sw & 0xFF00u) == 0x6400u || (sw & 0xFF00u) == 0x6500u) {
        return Hex4(sw) + ": the card's memory is unchanged or failed";
    }
    return {};
}

std::string ExplainFailure(HRESULT hr, Addressed addressed) {
    const auto code = static_cast<std::uint32_t>(hr);
    const std::uint32_t high = code >> 16;
    const std::uint32_t sw = code & 0xFFFFu;
    if ((high == 0x8007u || high == 0x8004u) && (sw & 0xF000u) == 0x6000u) {
        const std::string meaning = StatusWordMeaning(sw);
        if (!meaning.empty()) {
            return meaning + CardHint(sw, addressed) + "\n";
        }
        return Hex4(sw) + ": a status word the card uses for its own errors\n";
    }
    switch (code) {
        case 0x800401F3u:  // CO_E_CLASSSTRING: the ProgID is not registered
        case 0x80040154u:  // REGDB_E_CLASSNOTREG
            return "the carvix-qx module is not registered for this user; register it with: "
                   "carvix register (or carvix register --module PATH/carvix-qx.so)\n";
        case 0x8007007Eu:  // the registered module file cannot be loaded
            return "the registered carvix-qx module cannot be loaded; register it again with: "
                   "carvix register --module PATH/carvix-qx.so\n";
        case 0x8010001Du:
        case 0x8010001Eu:
            return Orvel::PCSC::ServiceFailureText() + "\n";
        case 0x8010002Eu:
            return "no reader is connected: plug one in, and check that pcscd sees it "
                   "(carvix readers)\n";
        case 0x80100009u:
            return "no reader has that name: carvix readers lists them\n";
        case 0x8010000Cu:
            return "there is no card in the reader: insert one\n";
        case 0x80100069u:
            return "the card was removed: put it back and try again\n";
        case 0x8010000Bu:
            return "another program holds the card (connected exclusively, or in a long "
                   "transaction): close it and try again, or wait longer with --card-wait "
                   "SECONDS\n";
        case 0x800704C7u:
            return "no reader was chosen\n";
        default:
            return {};
    }
}

}  // namespace carvix::cli
