// What a person can do about a failure, as the client prints it: the failure table's meaning
// and next step (carvix::automation::ExplainFailure), with the card the call addressed.
#pragma once

#include "carvix/support/status_words.h"

#include "carvix/automation/types.h"

#include <cstdint>
#include <string>

namespace carvix::cli {

using Orvel::StatusWordMeaning;

/// The application a failed call addressed, for hints that name the card it needs.
enum class Addressed { Unknown, Vl, Zk };

/// One line (ending in "\n") explaining `hr` with what to do, or empty when the table adds
/// nothing to the component's message. A status word inside an HRESULT is 0x8007 or 0x8004
/// followed by 6xxx and is always explained.
std::string ExplainFailure(HRESULT hr, Addressed addressed = Addressed::Unknown);

/// `message` with the hexadecimal form after each decimal "Error code: N" (the contactless
/// library's codes are documented in hex): "Error code: -2147483646 (0x80000002)".
std::string WithHexCodes(const std::string& message);

/// A PC/SC call the client made itself, as "carvix: " lines: the call, the code in hex and
/// the message, then the explanation when it says more than the message. Never empty.
std::string PcscFailureText(const std::string& call, std::uint32_t code,
                            const std::string& message);

}  // namespace carvix::cli
