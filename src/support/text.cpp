#include "carvix/support/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace Orvel {

std::u16string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::u16string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        result = Utf8ToUtf16(std::string_view(buffer.data(), static_cast<std::size_t>(needed)));
    }
    va_end(args);
    return result;
}

}  // namespace Orvel
