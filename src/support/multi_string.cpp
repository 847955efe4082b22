#include "carvix/support/multi_string.h"

#include "carvix/support/text.h"

namespace Orvel {

std::vector<std::string_view> SplitMultiString(std::string_view buffer) {
    std::vector<std::string_view> names;
    std::size_t pos = 0;
    while (pos < buffer.size() && buffer[pos] != '\0') {
        std::size_t end = buffer.find('\0', pos);
        if (end == std::string_view::npos) {
            end = buffer.size();
        }
        names.push_back(buffer.substr(pos, end - pos));
        pos = end + 1;
    }
    return names;
}

std::vector<std::u16string> SplitMultiStringUtf8(std::string_view buffer) {
    std::vector<std::u16string> names;
    for (std::string_view name : SplitMultiString(buffer)) {
        names.push_back(Utf8ToUtf16(name));
    }
    return names;
}

}  // namespace Orvel
