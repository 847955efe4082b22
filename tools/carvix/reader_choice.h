// Which reader a command works with: the one named with --reader, or the one the component's
// reader selection finds (the only reader with a suitable card, or the user's pick among
// several on the terminal).
#pragma once

#include "terminal_chooser.h"

#include <string>

namespace carvix::cli {

/// A failure the client explains itself: the text for standard error and the exit status.
struct ClientFailure {
    std::string text;
    int status = 1;
};

/// `given` when not empty; otherwise CARVIX.SmartCard's SelectReader (SelectContactlessReader
/// with `contactless`) with `chooser` installed as the host's chooser. A selection that
/// nobody could answer (no terminal) throws ClientFailure naming --reader; other failed
/// calls throw ClientError.
std::string ChooseReader(const std::string& given, bool contactless, TerminalChooser& chooser);

}  // namespace carvix::cli
