// The dialog protocol's line format on arbitrary bytes: a line either fails to split or
// splits into fields that join back into a line splitting into the same fields.
#include "carvix/automation/dialog_line.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto fields = carvix::dialog::Split(line);
    if (!fields) {
        return 0;
    }
    const std::string joined = carvix::dialog::Join(*fields);
    if (joined.find('\n') != std::string::npos || carvix::dialog::Split(joined) != fields) {
        std::abort();
    }
    return 0;
}
