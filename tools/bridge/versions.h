// The host's side of the version rule: a `hello` says which protocol the page library (and
// the extension that passed it on) speak; the host answers with its own versions, or refuses
// a combination it cannot serve with ERROR_REVISION_MISMATCH and the part to update.
#pragma once

#include "bridge_error.h"

#include <nlohmann/json.hpp>

#include <string>

namespace carvix::bridge {

/// The protocol version this host speaks, "major.minor".
std::string ProtocolText();

/// The answer to a `hello`; throws BridgeError (ERROR_REVISION_MISMATCH) when the page
/// library or the extension speaks a protocol this host cannot serve.
nlohmann::json HelloAnswer(const nlohmann::json& hello, const std::string& hostVersion);

}  // namespace carvix::bridge
