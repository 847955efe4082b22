#include "versions.h"

#include "protocol_version.h"

#include "carvix/automation/failure_codes.h"

#include <optional>
#include <string_view>
#include <utility>

namespace carvix::bridge {
namespace {

using Json = nlohmann::json;
using Protocol = std::pair<int, int>;

// "major.minor" with one to four digits each; anything else is no version.
std::optional<Protocol> Parse(const Json& value) {
    if (!value.is_string()) {
        return std::nullopt;
    }
    const std::string& text = value.get_ref<const std::string&>();
    const std::size_t dot = text.find('.');
    const auto number = [](std::string_view digits) -> std::optional<int> {
        if (digits.empty() || digits.size() > 4) {
            return std::nullopt;
        }
        int n = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            n = n * 10 + (c - '0');
        }
        return n;
    };
    if (dot == std::string::npos) {
        return std::nullopt;
    }
    const auto major = number(std::string_view(text).substr(0, dot));
    const auto minor = number(std::string_view(text).substr(dot + 1));
    if (!major || !minor) {
        return std::nullopt;
    }
    return Protocol{*major, *minor};
}

std::string Text(Protocol p) {
    return std::to_string(p.first) + "." + std::to_string(p.second);
}

// A short version text the page sent, for messages (no more than 32 characters of it).
std::string Said(const Json& hello, const char* field) {
    const auto found = hello.find(field);
    if (found == hello.end() || !found->is_string()) {
        return "";
    }
    return found->get_ref<const std::string&>().substr(0, 32);
}

[[noreturn]] void Mismatch(std::string message) {
    throw BridgeError{automation::failures::VersionMismatch, std::move(message)};
}

// Refuses `peer` (speaking `theirs`) when this host cannot serve it: another major version,
// or a newer minor one (the peer would send what this host does not know).
void Check(Protocol theirs, const std::string& peer, const std::string& update,
           const std::string& hostVersion) {
    const Protocol ours{kProtocolMajor, kProtocolMinor};
    const std::string said = peer + " speaks protocol " + Text(theirs) + ", the carvix-qx host " +
                             hostVersion + " speaks " + Text(ours) + ".";
    if (theirs.first < ours.first) {
        Mismatch("Update " + update + ": " + said);
    }
    if (theirs.first > ours.first || theirs.second > ours.second) {
        Mismatch("Update the carvix-qx host (package carvix-qx): " + said);
    }
}

}  // namespace

std::string ProtocolText() {
    return Text({kProtocolMajor, kProtocolMinor});
}

Json HelloAnswer(const Json& hello, const std::string& hostVersion) {
    // A page library from before versions were exchanged says nothing: protocol 1.0.
    const auto page = hello.find("protocol");
    const std::optional<Protocol> library =
        page == hello.end() ? std::optional<Protocol>(Protocol{1, 0}) : Parse(*page);
    if (!library) {
        throw BridgeError{E_INVALIDARG, "\"protocol\" must be a version \"major.minor\"."};
    }
    const std::string libraryVersion = Said(hello, "library");
    Check(*library, "the page library" + (libraryVersion.empty() ? "" : " " + libraryVersion),
          "the page library (carvix.js) of this site", hostVersion);
    Json answer{{"version", kProtocolMajor},
                {"protocol", ProtocolText()},
                {"host", "carvix-bridge"},
                {"hostVersion", hostVersion},
                {"module", "carvix-qx " + hostVersion}};
    if (!libraryVersion.empty()) {
        answer["library"] = libraryVersion;
    }
    if (const auto extension = hello.find("extensionProtocol"); extension != hello.end()) {
        const std::optional<Protocol> theirs = Parse(*extension);
        if (!theirs) {
            throw BridgeError{E_INVALIDARG,
                              "\"extensionProtocol\" must be a version \"major.minor\"."};
        }
        const std::string extensionVersion = Said(hello, "extension");
        Check(*theirs,
              "the carvix-qx browser extension" +
                  (extensionVersion.empty() ? "" : " " + extensionVersion),
              "the carvix-qx browser extension", hostVersion);
        answer["extension"] = extensionVersion;
        answer["extensionProtocol"] = Text(*theirs);
    }
    return answer;
}

}  // namespace carvix::bridge
