// PC/SC hands lists of names (readers, groups) out as one multi-string: each name ends in
// a NUL and an empty name ends the list ("A\0B\0\0").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Orvel {

/// The names of `buffer`, in order. The walk ends at the empty name or at the end of the
/// buffer, whichever comes first, so a list without its final NULs is never overrun and a
/// last name cut off by the buffer's end still counts.
std::vector<std::string_view> SplitMultiString(std::string_view buffer);

/// The same names, read as UTF-8 (invalid sequences become U+FFFD).
std::vector<std::u16string> SplitMultiStringUtf8(std::string_view buffer);

}  // namespace Orvel
