// The origins that may talk to the host. The administrator keeps them in one file,
// /etc/carvix-qx/allowed-origins, one origin per line, "#" starting a comment. Only https
// origins and http://localhost or http://127.0.0.1 (any port) can be allowed: a page served
// over plain http elsewhere could be anyone's. A file that someone other than root could
// have written allows nothing.
#pragma once

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

/// `origin` in canonical form (scheme and host in lower case, no trailing "/"), or nothing
/// when it is not an origin that may be allowed.
std::optional<std::string> AllowableOrigin(std::string_view origin);

class AllowList {
  public:
    AllowList() = default;
    explicit AllowList(std::vector<std::string> origins) : origins_(std::move(origins)) {}

    /// The lines of a list file; lines that name no allowable origin are ignored with a
    /// warning naming the line.
    static AllowList Parse(std::string_view text, std::ostream& warnings);
    /// The list the host runs with: the file named by CARVIX_BRIDGE_ORIGINS when set, else
    /// the system file. Missing, unreadable or unsafe files allow nothing (with a warning,
    /// except for a missing system file).
    static AllowList Load(std::ostream& warnings);

    bool Allows(std::string_view origin) const;
    const std::vector<std::string>& Origins() const { return origins_; }

  private:
    std::vector<std::string> origins_;
};

/// Why a list file with this status may not be trusted, or nothing when it may: it must be
/// a regular file owned by root and writable by nobody else.
std::optional<std::string> UnsafeListFile(const struct stat& status);

}  // namespace carvix::bridge
