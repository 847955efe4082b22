// What a person can do about a failure: the client's own explanation of the HRESULTs it can
// read more into than the component's message says (a card status word, an unregistered
// module, no PC/SC service, no reader).
#pragma once

#include "carvix/support/status_words.h"

#include "carvix/automation/types.h"

#include <string>

namespace carvix::cli {

using Orvel::StatusWordMeaning;

/// The application a failed call addressed, for hints that name the card it needs.
enum class Addressed { Unknown, Vl, Zk };

/// One or more lines (each ending in "\n") explaining `hr` with a hint of what to do, or
/// empty when the client knows nothing beyond the component's message. A status word inside
/// an HRESULT is 0x8007 or 0x8004 followed by 6xxx.
std::string ExplainFailure(HRESULT hr, Addressed addressed = Addressed::Unknown);

}  // namespace carvix::cli
