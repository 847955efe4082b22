// Shared VARIANT helpers of the runtime.
#pragma once

#include "carvix/automation/oleauto.h"

namespace carvix::automation::detail {

/// True when vt is a type a VARIANT may hold (with VT_ARRAY / VT_BYREF as allowed).
bool IsValidVariantType(VARTYPE vt) noexcept;

/// Bytes a value of type `vt` takes (a SAFEARRAY element, or what a VT_BYREF points to);
/// 0 for types without a fixed size here (VT_DECIMAL, VT_RECORD, VT_EMPTY, unknown types).
std::uint32_t ValueSize(VARTYPE vt) noexcept;

/// A shallow copy of `src` without VT_BYREF (one level, through VT_BYREF | VT_VARIANT).
/// The result borrows everything it points to. DISP_E_BADVARTYPE or E_INVALIDARG on
/// bad input (a null reference pointer).
HRESULT Dereference(const VARIANT& src, VARIANT& out) noexcept;

/// Clears `*dest` and moves `value` into it. When the clear fails, `value` is cleared
/// instead and `*dest` keeps what it held.
HRESULT MoveInto(VARIANT* dest, VARIANT& value) noexcept;

}  // namespace carvix::automation::detail
