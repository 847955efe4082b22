// `carvix support`: one file for the person who helps a user, with what the component sees of
// this machine (the checks of `carvix doctor`) and the end of the log. It holds no secret: the
// log never does, and nothing of a card's contents is read.
#pragma once

#include <string>

namespace carvix::cli {

/// Writes the bundle to `out` (a new file named after the time in the current folder when
/// empty) and prints its path. Returns the exit status.
int SupportBundle(const std::string& out);

}  // namespace carvix::cli
