// UTF-8 <-> UTF-16 for registry files and module paths (invalid input becomes U+FFFD).
#pragma once

#include <string>
#include <string_view>

namespace carvix::automation::detail {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace carvix::automation::detail
