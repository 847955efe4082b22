// Calling a member of an object by name for a page, and the text of a failure.
#pragma once

#include "bridge_error.h"

#include "carvix/automation/client.h"

#include <cstdint>
#include <string>

namespace carvix::bridge {

using automation::Arguments;

/// Invokes member `name` of `object` with `flags` (DISPATCH_METHOD, DISPATCH_PROPERTYGET or
/// DISPATCH_PROPERTYPUT; a put passes its one argument as the new value). Throws
/// BridgeError: for DISP_E_EXCEPTION the member's own HRESULT and description.
void InvokeByName(IDispatch* object, const std::string& name, std::uint16_t flags,
                  const Arguments& args, automation::ScopedVariant& result);

/// The component's message text of an HRESULT, with a plain fallback when it cannot say.
std::string TextOf(HRESULT hr);

}  // namespace carvix::bridge
