// Reading one block through CARVIX.DocAdmin and turning its object's properties into JSON.
#pragma once

#include "blocks.h"
#include "dispatch_client.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace carvix::cli {

using Json = nlohmann::ordered_json;

/// Calls the block's read method on `docAdmin` and reads every property that the returned
/// object's type information lists, in member order: texts as strings, numbers as integers, dates
/// as ISO 8601 days, the photo as its Base64 text, a list of objects (the voluntary insurances) as
/// an array of their properties. Optional fields whose flag is false are left out. Throws
/// CallError.
Json ReadBlock(const Dispatch& docAdmin, const BlockInfo& block, const std::u16string& reader,
               std::uint16_t appId);

/// "YYYY-MM-DD" of an OLE date; throws CallError(E_INVALIDARG) for a DATE out of range.
std::string IsoDay(double date);

}  // namespace carvix::cli
