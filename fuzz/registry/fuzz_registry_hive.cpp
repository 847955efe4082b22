// Feeds arbitrary text to the registry hive parser. A hive that parses must serialise to
// text that parses again to the same hive (what Edit relies on when it rewrites the file),
// and lookups of paths taken from the input must not crash.
#include "carvix/automation/registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace reg = carvix::automation::registry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = reg::Parse(text);
    if (!parsed) {
        return 0;
    }
    const std::string once = reg::Serialize(*parsed);
    const auto again = reg::Parse(once);
    if (!again || reg::Serialize(*again) != once) {
        std::fprintf(stderr, "a parsed hive did not survive serialising:\n%s\n", once.c_str());
        std::abort();
    }
    // The input's bytes (Latin-1) as a path: lookups, creation and removal.
    std::u16string path;
    for (std::size_t i = 0; i < size && i < 64; ++i) {
        path += static_cast<char16_t>(data[i]);
    }
    (void)parsed->Value(path, u"");
    (void)parsed->Find(path);
    parsed->Create(path);
    parsed->Remove(path);
    return 0;
}
