// Reading one block through CARVIX.DocAdmin and turning its object's properties into JSON.
#pragma once

#include "blocks.h"
#include "client_names.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace carvix::cli {

using Json = nlohmann::ordered_json;

/// One readable property of an object, as its type information lists it.
struct Property {
    std::u16string name;
    VARTYPE vt;     // of the value: VT_BSTR, VT_I4, VT_DATE, VT_BOOL, or VT_VARIANT for a list
    bool optional;  // has a BOOL <name>Specified flag; left out when the flag is false
};

/// The property getters of `object` in member order, from its type information; a BOOL
/// getter <name>Specified beside a getter <name> is that property's flag rather than a
/// property of its own. Throws ClientError.
std::vector<Property> PropertiesOf(const Object& object);

/// Calls the block's read method on `docAdmin` and reads every property that the returned
/// object's type information lists, in member order: texts as strings, numbers as integers, dates
/// as ISO 8601 days, the photo as its Base64 text, a list of objects (the voluntary insurances) as
/// an array of their properties. Optional fields whose flag is false are left out. Throws
/// ClientError. With `object`, the block object is handed back there as well.
Json ReadBlock(const Object& docAdmin, const BlockInfo& block, const std::u16string& reader,
               std::uint16_t appId, Object* object = nullptr);

/// The properties of a block object read as ReadBlock reads them. Throws ClientError.
Json PropertiesJson(const Object& object);

/// "YYYY-MM-DD" of an OLE date; throws ClientError(E_INVALIDARG) for a DATE out of range.
std::string IsoDay(double date);

}  // namespace carvix::cli
