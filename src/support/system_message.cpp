#include "carvix/support/system_message.h"

#include "carvix/support/string_table.h"
#include "carvix/support/text.h"

#include <PCSC/pcsclite.h>

namespace Orvel {

std::u16string SystemMessageText(std::uint32_t code) {
    // PC/SC codes (0x8010xxxx) take pcsc-lite's own text.
    if ((code & 0xFFFF0000u) == 0x80100000u) {
        const char* text = pcsc_stringify_error(static_cast<LONG>(static_cast<std::int32_t>(code)));
        if (text != nullptr && text[0] != '\0') {
            return Utf8ToUtf16(text);
        }
    }
    return LoadString(20490);
}

}  // namespace Orvel
