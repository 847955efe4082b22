// The failure of one request: the HRESULT the page receives and the text shown with it.
#pragma once

#include "carvix/automation/client.h"

#include <string>

namespace carvix::bridge {

/// A handle that names no object of the connection (ERROR_INVALID_HANDLE as an HRESULT).
inline constexpr HRESULT E_HANDLE = static_cast<HRESULT>(0x80070006u);

/// Thrown inside the host while a request runs; the dispatcher turns it into an error
/// response. `message` is complete text for a person ("" lets the dispatcher look the
/// HRESULT's text up).
struct BridgeError {
    HRESULT hr;
    std::string message;
};

using automation::HexCode;

}  // namespace carvix::bridge
