#include "card_survey.h"

#include "carvix/support/hex.h"
#include "carvix/support/pcsc_context.h"
#include "carvix/support/reader_monitor.h"
#include "carvix/support/unicode.h"

#include <span>

namespace carvix::cli {

namespace pcsc = Orvel::PCSC;

std::vector<ReaderSurvey> SurveyReaders(const std::string& only,
                                        const std::optional<std::string>& contactlessFolder) {
    pcsc::PCSCContext context(pcsc::kScopeUser);
    pcsc::ReaderMonitor monitor(context);
    std::vector<ReaderSurvey> readers;
    for (const pcsc::ReaderState& state : monitor.Refresh()) {
        ReaderSurvey r;
        r.name = Orvel::Utf16ToUtf8(state.name);
        if (!only.empty() && r.name != only) {
            continue;
        }
        r.cardPresent = state.CardPresent();
        if (r.cardPresent) {
            r.atr = Orvel::ToHex(std::span<const std::uint8_t>(state.atr));
            if ((state.state & SCARD_STATE_MUTE) != 0) {
                r.error = "the card does not answer";
            } else {
                CardEvent event{CardEvent::Kind::CardInserted, r.name, r.atr, {}, {}, {}, {}};
                ProbeApplications(event, contactlessFolder);
                r.vl = event.vl;
                r.zk = event.zk;
                r.contactless = event.contactless;
                r.error = event.error;
            }
        }
        readers.push_back(std::move(r));
    }
    return readers;
}

std::vector<std::string> ApplicationNames(const ReaderSurvey& reader) {
    std::vector<std::string> names;
    if (reader.vl.value_or(false)) {
        names.emplace_back("VL");
    }
    if (reader.zk.value_or(false)) {
        names.emplace_back("ZK");
    }
    return names;
}

std::vector<std::string> CardKinds(const ReaderSurvey& reader) {
    std::vector<std::string> kinds = ApplicationNames(reader);
    if (reader.contactless.value_or(false)) {
        kinds.emplace_back("contactless");
    }
    return kinds;
}

std::string SurveyText(const ReaderSurvey& reader) {
    std::string text = reader.name + "\n  ";
    if (!reader.cardPresent) {
        return text + "no card\n";
    }
    text += "card, ATR " + reader.atr;
    if (!reader.error.empty()) {
        return text + ", " + reader.error + "\n";
    }
    const std::vector<std::string> apps = CardKinds(reader);
    if (apps.empty()) {
        return text + ", no VL or ZK application\n";
    }
    text += ", applications:";
    for (const std::string& app : apps) {
        text += " " + app;
    }
    return text + "\n";
}

std::vector<std::string> ReadersHolding(const std::vector<ReaderSurvey>& readers, bool zk) {
    std::vector<std::string> names;
    for (const ReaderSurvey& r : readers) {
        if ((zk ? r.zk : r.vl).value_or(false)) {
            names.push_back(r.name);
        }
    }
    return names;
}

}  // namespace carvix::cli
