// Where `carvix register` finds the module when no --module is given.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

namespace carvix::cli {

/// The module beside this client: in an installation the module's private library folder
/// as seen from the binary folder, in a build tree the module of the same build. Both are
/// relative to the folder of the running executable, so an installed client never points
/// into the folder it was built in.
std::string DefaultModulePath();

/// The first of `relatives` (each resolved against `base`) that exists, normalised; the
/// first one when none does, so that a failure names the installed location.
std::filesystem::path FirstExisting(const std::filesystem::path& base,
                                    std::initializer_list<const char*> relatives);

}  // namespace carvix::cli
