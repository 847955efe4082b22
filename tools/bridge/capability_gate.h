// The capability check made before a page's create, call, get or put: what the request
// needs (from the generated table) against what the administrator granted its origin.
#pragma once

#include "bridge_error.h"
#include "capabilities.h"
#include "object_table.h"

#include <nlohmann/json.hpp>

#include <string>

namespace carvix::bridge {

/// Throws a BridgeError with E_ACCESSDENIED, naming the missing capability, when a page of
/// `origin` holding `granted` may not make `request` (operation `op`). Other operations, and
/// requests that will fail anyway for a missing field or an unknown handle, pass: their own
/// error tells the page more. A ProgID outside the table is refused; so is a member the
/// object has but the table does not cover (a member the object lacks fails as unknown).
void RequireCapabilities(const std::string& op, const nlohmann::json& request,
                         const std::string& origin, Capabilities granted,
                         const ObjectTable& objects);

}  // namespace carvix::bridge
