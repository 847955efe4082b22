// What every reader holds right now: whether a card is present, its ATR and which of the
// identity card's applications answer. Used by `carvix readers` and to find the one reader
// whose card holds the application a command needs.
#pragma once

#include "watch_command.h"

#include <optional>
#include <string>
#include <vector>

namespace carvix::cli {

struct ReaderSurvey {
    std::string name;
    bool cardPresent = false;
    std::string atr;  // upper-case hexadecimal; empty without a card
    // Whether each application answered its SELECT; unset when the card could not be asked.
    std::optional<bool> vl;
    std::optional<bool> zk;
    std::optional<bool> contactless;  // answers as a contactless card
    std::string error;                // why the card could not be asked
};

/// Asks PC/SC for every reader and every present card, or only for the reader named ONLY when
/// it is given: asking a card selects its applications, which ends the authentication another
/// program may hold on it, so cards the command will not use are left alone. Throws
/// PCSCWin32Exception when the service cannot be reached (its message says why and what to do).
/// With `contactlessFolder` each card is also asked whether it is a contactless card
/// (ProbeApplications).
std::vector<ReaderSurvey> SurveyReaders(const std::string& only = {},
                                        const std::optional<std::string>& contactlessFolder = {});

/// The applications of the card as words ("VL", "ZK"); empty when none answered.
std::vector<std::string> ApplicationNames(const ReaderSurvey& reader);

/// What the card is, as words: its applications, then "contactless" when it answers as a
/// contactless card.
std::vector<std::string> CardKinds(const ReaderSurvey& reader);

/// One reader as text: its name, then an indented line on its card.
std::string SurveyText(const ReaderSurvey& reader);

/// The readers whose card holds the VL application (`zk` false) or the ZK one.
std::vector<std::string> ReadersHolding(const std::vector<ReaderSurvey>& readers, bool zk);

}  // namespace carvix::cli
