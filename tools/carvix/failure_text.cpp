#include "failure_text.h"

#include "carvix/support/pcsc_service.h"
#include "carvix/support/status_words.h"

#include <cstdint>
#include <cstdio>

namespace carvix::cli {
namespace {

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

std::string ExplainFailure(HRESULT hr, Addressed addressed) {
    const auto code = static_cast<std::uint32_t>(hr);
    const std::uint32_t high = code >> 16;
    const std::uint32_t sw = code & 0xFFFFu;
    if ((high == 0x8007u || high == 0x8004u) && (sw & 0xF000u) == 0x6000u) {
        const std::string meaning = Orvel::StatusWordMeaning(sw);
        if (!meaning.empty()) {
            return meaning + CardHint(sw, addressed) + "\n";
        }
        return Orvel::StatusWordHex(sw) + ": a status word the card uses for its own errors\n";
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
