// The card code-page decoders on arbitrary bytes: a clean CardException, or text that encodes
// back to exactly the same bytes.
#include "carvix/support/codepage.h"
#include "carvix/support/exceptions.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr std::uint32_t kPages[] = {Orvel::Text::kUsAscii, Orvel::Text::kUtf16Le,
                                               Orvel::Text::kUtf8, 1252};
    const std::uint32_t page = kPages[data[0] % 4];
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    std::u16string text;
    try {
        text = Orvel::Text::Decode(page, bytes);
    } catch (const CardException&) {
        return 0;
    }
    const Orvel::ByteArray again = Orvel::Text::Encode(page, text);
    const std::size_t expected =
        page == Orvel::Text::kUtf16Le ? bytes.size() & ~std::size_t{1} : bytes.size();
    if (again.size() != expected || !std::equal(again.begin(), again.end(), bytes.begin())) {
        std::abort();
    }
    return 0;
}
