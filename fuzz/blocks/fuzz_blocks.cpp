// Decodes arbitrary bytes into every block model, both as given and with the header made to
// fit the model (so the search reaches the elements). Whatever decodes must encode again,
// and decoding that encoding must give the same model. Any other outcome aborts.
#include "carvix/blocks/card_block.h"
#include "carvix/support/exceptions.h"
#include "model_samples.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Fail(const carvix::test::ModelKind& kind, const char* what) {
    std::fprintf(stderr, "%s: %s\n", kind.name.c_str(), what);
    std::abort();
}

void Exercise(const carvix::test::ModelKind& kind, ByteView bytes) {
    auto model = kind.make();
    try {
        model->Decode(bytes);
    } catch (const Orvel::Exception&) {
        return;  // refused input is fine; CardException and the date range errors
    }
    Orvel::ByteArray encoded;
    try {
        encoded = model->Encode();
    } catch (const Orvel::Exception&) {
        Fail(kind, "a decoded model does not encode");
    }
    auto again = kind.make();
    try {
        again->Decode(encoded);
    } catch (const Orvel::Exception&) {
        Fail(kind, "an encoded model does not decode");
    }
    if (!carvix::test::Differences(*model, *again).empty()) {
        Fail(kind, "the model changed through encode and decode");
    }
    if (again->Encode() != encoded) {
        Fail(kind, "encoding is not stable");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    Orvel::ByteArray fitted(data, data + size);
    const bool canFit = size >= 4 && size - 4 <= 0xFFFF;
    if (canFit) {
        fitted[2] = static_cast<std::uint8_t>((size - 4) & 0xFF);
        fitted[3] = static_cast<std::uint8_t>((size - 4) >> 8);
    }
    for (const auto& kind : carvix::test::AllModels()) {
        Exercise(kind, input);
        if (canFit) {
            fitted[0] = static_cast<std::uint8_t>(kind.blockId & 0xFF);
            fitted[1] = static_cast<std::uint8_t>(kind.blockId >> 8);
            Exercise(kind, fitted);
        }
    }
    return 0;
}
