// The module's side of the reader chooser hook (host_hooks.h): the questions the reader
// selection puts to the host, in C++ terms.
#pragma once

#include "carvix/support/reader_monitor.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace carvix::com {

/// Offers `readers` (at least one) to the host's reader chooser. The index the user picked,
/// or none for a cancel (also when no chooser is installed).
std::optional<std::size_t> AskHostForReader(const std::u16string& title,
                                            const std::vector<Orvel::PCSC::ReaderState>& readers);

/// Tells the host's reader chooser that no reader holds an acceptable card. True when the
/// user goes on waiting for one; false for a cancel or no chooser installed.
bool AskHostToWaitForCard(const std::u16string& title);

}  // namespace carvix::com
