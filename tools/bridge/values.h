// VARIANTs as JSON and back, in the forms the page's library knows: numbers, texts and
// booleans as themselves, dates as {"$date": "YYYY-MM-DDTHH:MM:SS"}, 64-bit integers beyond
// 2^53 as {"$int64": "..."}, byte arrays as {"$bytes": "<base64>"}, other arrays as JSON
// arrays, objects as handles of the connection's object table.
#pragma once

#include "bridge_error.h"

#include "carvix/automation/oleauto.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace carvix::bridge {

using Json = nlohmann::json;

/// Arrays inside arrays deeper than this are refused both ways (no recursion without end).
inline constexpr int kMaxNesting = 16;

/// Where objects leave to and come from: the connection's object table.
class ObjectBroker {
  public:
    virtual ~ObjectBroker() = default;
    /// The object value of `object` under a new handle; takes a reference of its own.
    virtual Json Export(IDispatch* object) = 0;
    /// The object behind `handle` (borrowed, valid until released), or nullptr.
    virtual IDispatch* Find(std::int64_t handle) const = 0;
};

/// The JSON form of `value`; throws BridgeError (DISP_E_BADVARTYPE for a type the page
/// cannot receive, DISP_E_TYPEMISMATCH for a multi-dimensional array).
Json VariantToJson(const VARIANT& value, ObjectBroker& objects, int depth = 0);

/// Fills `out` (initialised and empty) from `value`; throws BridgeError(E_INVALIDARG) for a
/// form the host does not know. On a throw `out` is left empty.
void JsonToVariant(const Json& value, const ObjectBroker& objects, VARIANT* out, int depth = 0);

/// "YYYY-MM-DDTHH:MM:SS" of an OLE date, or nothing for a date out of range.
std::optional<std::string> DateText(double date);
/// The OLE date of "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS", or nothing.
std::optional<double> ParseDateText(std::string_view text);

}  // namespace carvix::bridge
