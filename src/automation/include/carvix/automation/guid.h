// GUID text in the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include "carvix/automation/types.h"

#include <optional>
#include <string>
#include <string_view>

namespace carvix::automation {

CARVIX_COM_API std::u16string GuidToString(const GUID& guid);
/// Accepts upper- or lower-case hex digits; the braces are required.
CARVIX_COM_API std::optional<GUID> ParseGuid(std::u16string_view text);

}  // namespace carvix::automation
