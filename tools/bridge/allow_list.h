// The origins that may talk to the host and what each may do. The administrator keeps them
// in one file, /etc/carvix-qx/allowed-origins, one origin a line followed by its capabilities
// ("https://id.example.org read write"), "#" starting a comment. Only https origins and
// http://localhost or http://127.0.0.1 (any port) can be allowed: a page served over plain
// http elsewhere could be anyone's. A file that someone other than root could have written
// allows nothing.
#pragma once

#include "capabilities.h"

#include <sys/stat.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace carvix::bridge {

inline constexpr const char* kSystemOriginsFile = "/etc/carvix-qx/allowed-origins";
/// Names another list (for tests); used only when it passes the same ownership check.
inline constexpr const char* kOriginsVariable = "CARVIX_BRIDGE_ORIGINS";

/// `origin` in canonical form as a browser reports it (scheme and host in lower case, no
/// trailing "/", no default port: 443 for https, 80 for http), or nothing when it is not an
/// origin that may be allowed.
std::optional<std::string> AllowableOrigin(std::string_view origin);

/// What an origin listed without capabilities gets: reading only (a warning asks the
/// administrator to list them); writing is never granted by default.
inline constexpr Capabilities kBareLineCapabilities = kRead;

class AllowList {
  public:
    struct Entry {
        std::string origin;  // canonical
        Capabilities capabilities;
    };

    AllowList() = default;
    explicit AllowList(std::vector<Entry> entries);

    /// The lines of a list file; lines that name no allowable origin are ignored, unknown
    /// capability words are skipped and a line without capabilities gets
    /// kBareLineCapabilities, each with a warning naming the line. An origin on several
    /// lines gets the capabilities of all of them.
    static AllowList Parse(std::string_view text, std::ostream& warnings);
    /// The list the host runs with: the file named by CARVIX_BRIDGE_ORIGINS when set, else
    /// the system file. Missing, unreadable or unsafe files allow nothing (with a warning,
    /// except for a missing system file).
    static AllowList Load(std::ostream& warnings);

    bool Allows(std::string_view origin) const;
    /// The capabilities of `origin` (none when it is not on the list).
    Capabilities CapabilitiesOf(std::string_view origin) const;
    const std::vector<std::string>& Origins() const { return origins_; }
    const std::vector<Entry>& Entries() const { return entries_; }

  private:
    std::vector<Entry> entries_;
    std::vector<std::string> origins_;  // the entries' origins, in the list's order
};

/// Why a list file with this status may not be trusted, or nothing when it may: it must be
/// a regular file owned by root and writable by nobody else.
std::optional<std::string> UnsafeListFile(const struct stat& status);

}  // namespace carvix::bridge
