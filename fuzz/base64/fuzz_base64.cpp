// FromBase64 on arbitrary text: either a clean ArgumentException or bytes that re-encode to an
// equivalent text.
#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(const std::u16string& text) {
    Orvel::ByteArray bytes;
    try {
        bytes = Orvel::FromBase64(text);
    } catch (const Orvel::ArgumentException&) {
        return;
    }
    std::size_t chars = 0;
    std::size_t padding = 0;
    for (char16_t c : text) {
        if (c != u'\r' && c != u'\n') {
            ++chars;
            padding = c == u'=' ? padding + 1 : 0;
        }
    }
    if (bytes.size() != (chars - padding) * 6 / 8) {
        std::abort();
    }
    if (Orvel::FromBase64(Orvel::ToBase64(bytes)) != bytes) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each byte as one character (reaches the alphabet often), then pairs as UTF-16 units.
    Check(std::u16string(data, data + size));
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    Check(units);
    return 0;
}
