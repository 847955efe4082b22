// The failure handling that every method of the document service shares.
#pragma once

#include "carvix/automation/types.h"

#include <functional>

namespace carvix::com {

/// Runs the guarded steps of a method and turns what they throw into its HRESULT:
/// - CardException with E_FAIL: a warning notice with the exception's message, then E_FAIL;
/// - CardException with another code: the code mapped by HResultFromCode (zero and negative
///   codes unchanged, a positive c as 0x80070000 | (c & 0xFFFF)), no notice;
/// - a PC/SC or applet failure that escaped the card layer: mapped the same way, no notice;
/// - a framework failure: its HRESULT; no memory: E_OUTOFMEMORY; anything else: E_FAIL.
/// S_OK when `steps` returns normally.
HRESULT RunCardSteps(const std::function<void()>& steps) noexcept;

}  // namespace carvix::com
