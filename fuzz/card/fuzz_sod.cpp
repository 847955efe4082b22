// Feeds arbitrary bytes to the SOD path: as a SOD block of each SOD ID, and as the signed
// message itself. Only CardException may come out; anything else (a crash, another
// exception, a verified message without content or signer) aborts.
#include "carvix/card/signed_message.h"
#include "carvix/card/sod_block.h"
#include "carvix/card/sod_registry.h"
#include "carvix/support/exceptions.h"

#include <cstdio>
#include <cstdlib>

namespace {

void Verify(std::span<const std::uint8_t> message) {
    try {
        VerifiedMessage result = VerifySignedMessage(message);
        if (!result.signatureValid || result.signer.IsEmpty()) {
            std::fprintf(stderr, "a message passed without a valid signature and signer\n");
            std::abort();
        }
    } catch (const CardException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    Verify(bytes);
    const SodRegistry& registry = SodRegistry::ForApplication(5);
    for (std::uint16_t sodId : {0x0D05, 0x0D06, 0x0D09}) {
        auto sod = registry.CreateSodBlock(sodId);
        try {
            sod->Decode(bytes);
        } catch (const Orvel::Exception&) {
            continue;
        }
        Verify(sod->Message().GetValue());
    }
    return 0;
}
