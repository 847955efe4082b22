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
    std::string port;
    if (colon != std::string::npos) {
        port = rest.substr(colon + 1);
        if (!ValidPort(port)) {
            return std::nullopt;
        }
    }
    // A browser never writes the scheme's own port: "https://example.org:443" is its
    // "https://example.org".
    if ((scheme == "https" && port == "443") || (scheme == "http" && port == "80")) {
        port.clear();
    }
    const std::string canonical = scheme + "://" + host + (port.empty() ? "" : ":" + port);
    if (scheme == "https") {
        return canonical;
    }
    if (scheme == "http" && (host == "localhost" || host == "127.0.0.1")) {
        return canonical;
    }
    return std::nullopt;
}

AllowList::AllowList(std::vector<Entry> entries) : entries_(std::move(entries)) {
    for (const Entry& e : entries_) {
        origins_.push_back(e.origin);
    }
}

AllowList AllowList::Parse(std::string_view text, std::ostream& warnings) {
    std::vector<Entry> entries;
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
        const std::size_t gap = line.find_first_of(" \t");
        const std::string_view first = line.substr(0, gap);
        const auto origin = AllowableOrigin(first);
        if (!origin) {
            warnings << "carvix-bridge: line " << lineNumber << " of the allowed origins (\""
                     << line
                     << "\") is ignored: only https origins and http://localhost or "
                        "http://127.0.0.1 can be allowed\n";
            continue;
        }
        Capabilities granted = 0;
        bool named = false;
        std::string_view words = gap == std::string_view::npos ? "" : line.substr(gap);
        while (!(words = Trim(words)).empty()) {
            const std::size_t wordEnd = words.find_first_of(" \t");
            const std::string_view word = words.substr(0, wordEnd);
            words.remove_prefix(wordEnd == std::string_view::npos ? words.size() : wordEnd);
            named = true;
            if (const auto capability = CapabilityNamed(Lower(word)); capability) {
                granted |= *capability;
            } else {
                warnings << "carvix-bridge: line " << lineNumber
                         << " of the allowed origins names an unknown capability \"" << word
                         << "\"; it is ignored (known:";
                for (const CapabilityText& known : CapabilityTexts()) {
                    warnings << ' ' << known.name;
                }
                warnings << ")\n";
            }
        }
        if (!named) {
            granted = kBareLineCapabilities;
            warnings << "carvix-bridge: line " << lineNumber << " of the allowed origins ("
                     << *origin
                     << ") lists no capabilities; it may only read the card. List what it needs, "
                        "e.g. \""
                     << *origin << " read write\"\n";
        }
        const auto same = std::find_if(entries.begin(), entries.end(),
                                       [&](const Entry& e) { return e.origin == *origin; });
        if (same != entries.end()) {
            same->capabilities |= granted;
        } else {
            entries.push_back({*origin, granted});
        }
    }
    return AllowList(std::move(entries));
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

Capabilities AllowList::CapabilitiesOf(std::string_view origin) const {
    const auto canonical = AllowableOrigin(origin);
    for (const Entry& e : entries_) {
        if (canonical && e.origin == *canonical) {
            return e.capabilities;
        }
    }
    return 0;
}

}  // namespace carvix::bridge
