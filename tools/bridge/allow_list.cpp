#include "allow_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace carvix::bridge {
namespace {

// A list longer than this is not a list of origins; the rest is not read.
constexpr std::size_t kMaxListBytes = 1024 * 1024;

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return out;
}

bool ValidPort(std::string_view port) {
    if (port.empty() || port.size() > 5 || port[0] == '0') {
        return false;
    }
    unsigned value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 65535;
}

// A host name: labels of letters, digits and hyphens, or an IPv4 address (which passes the
// same test); no user part, wildcard, path or bracket.
bool ValidHost(std::string_view host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.back() == '.') {
        return false;
    }
    std::size_t label = 0;
    for (char c : host) {
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
            continue;
        }
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok || ++label > 63) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::optional<std::string> AllowableOrigin(std::string_view origin) {
    std::string text = Lower(origin);
    if (!text.empty() && text.back() == '/') {
        text.pop_back();  // "https://example.org/" as people write it
    }
    const std::size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string::npos) {
        return std::nullopt;
    }
    const std::string scheme = text.substr(0, schemeEnd);
    const std::string rest = text.substr(schemeEnd + 3);
    const std::size_t colon = rest.find(':');
    const std::string host = rest.substr(0, colon);
    if (!ValidHost(host)) {
        return std::nullopt;
    }
    if (colon != std::string::npos && !ValidPort(std::string_view(rest).substr(colon + 1))) {
        return std::nullopt;
    }
    if (scheme == "https") {
        return text;
    }
    if (scheme == "http" && (host == "localhost" || host == "127.0.0.1")) {
        return text;
    }
    return std::nullopt;
}

AllowList AllowList::Parse(std::string_view text, std::ostream& warnings) {
    std::vector<std::string> origins;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        if (auto origin = AllowableOrigin(line); origin) {
            if (std::find(origins.begin(), origins.end(), *origin) == origins.end()) {
                origins.push_back(std::move(*origin));
            }
        } else {
            warnings << "carvix-bridge: line " << lineNumber << " of the allowed origins (\""
                     << line
                     << "\") is ignored: only https origins and http://localhost or "
                        "http://127.0.0.1 can be allowed\n";
        }
    }
    return AllowList(std::move(origins));
}

std::optional<std::string> UnsafeListFile(const struct stat& status) {
    if (!S_ISREG(status.st_mode)) {
        return "it is not a regular file";
    }
    if (status.st_uid != 0) {
        return "it is not owned by root";
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return "it is writable by group or others";
    }
    return std::nullopt;
}

AllowList AllowList::Load(std::ostream& warnings) {
    const char* chosen = std::getenv(kOriginsVariable);
    const bool fromVariable = chosen != nullptr && *chosen != '\0';
    const std::string path = fromVariable ? chosen : kSystemOriginsFile;
    // The checks and the read go through one open descriptor, so the file checked is the
    // file read. Opened without blocking: a FIFO (or a device) there must be refused by the
    // check, not hang the host at start-up waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        if (fromVariable) {
            warnings << "carvix-bridge: cannot read the allowed origins " << path
                     << "; no page is allowed\n";
        }
        return {};
    }
    if (const auto why = UnsafeListFile(status); why) {
        ::close(fd);
        warnings << "carvix-bridge: the allowed origins " << path << " are not used (" << *why
                 << "); no page is allowed\n";
        return {};
    }
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < kMaxListBytes;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Parse(text, warnings);
}

bool AllowList::Allows(std::string_view origin) const {
    const auto canonical = AllowableOrigin(origin);
    return canonical && std::find(origins_.begin(), origins_.end(), *canonical) != origins_.end();
}

}  // namespace carvix::bridge
