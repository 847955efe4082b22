// What a failure means and what the user does next, from the one failure table that every
// client (the command-line client, Python, the browser extension and pages) shows.
#pragma once

#include "carvix/automation/failure_codes.h"
#include "carvix/automation/types.h"

#include <string_view>

namespace carvix::automation {

/// A failure's entry in the table. All views are empty for a code the table does not know;
/// they stay valid for the life of the process.
struct FailureExplanation {
    std::string_view name;       ///< "NoCard", "CardRemoved", ...
    std::string_view situation;  ///< "NoCard", "WrongPin", ...; empty when it has none
    std::string_view meaning;    ///< "there is no card in the reader"
    std::string_view nextStep;   ///< "insert one"; empty when there is nothing to add
};

/// The explanation of `hr`. A card's status word inside an HRESULT (0x8007 6xxx or
/// 0x8004 6xxx) gets its interindustry meaning ("6A82: the card has no such application or
/// file") and, where the table has one, a next step.
CARVIX_COM_API FailureExplanation ExplainFailure(HRESULT hr) noexcept;

}  // namespace carvix::automation
