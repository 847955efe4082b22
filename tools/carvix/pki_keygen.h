// What `carvix pki keygen` checks before it asks the module for a pair, and what it tells the
// user afterwards. The module replaces an existing pair of the same use without asking (the
// old private key is gone then), so the client refuses that unless --replace was given.
#pragma once

#include "pki_command.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace carvix::cli {

/// The smallest key length the client accepts.
inline constexpr unsigned kMinimumKeyBits = 2048;

/// The token and container a key generation will use.
struct KeygenTarget {
    std::string token;      // the token's label
    std::string container;  // the container the pair goes into
};

/// Refuses a key below kMinimumKeyBits, a name that matches no token, and an existing pair of
/// the usage without `replace`: prints the reason on `err` and returns the exit status then.
/// Returns the target when generation may go ahead.
std::optional<KeygenTarget> CheckKeygen(const PkiOptions& o, std::uint16_t keySpec,
                                        const std::u16string& containerName, std::ostream& err,
                                        int& status);

/// Prints the token, container, usage, length and ID of the pair now in the container.
void ReportKeygen(std::uint16_t keySpec, const std::u16string& containerName,
                  const KeygenTarget& target, std::ostream& out);

}  // namespace carvix::cli
