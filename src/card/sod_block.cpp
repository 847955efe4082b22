#include "carvix/card/sod_block.h"

#include "carvix/card/sod_registry.h"

SodBlock::SodBlock(std::uint16_t sodId)
    : CardBlock(sodId), message_(*this, ElementTagOf(sodId), MaxLengthOf(sodId), kMandatory) {}

SodBlock::~SodBlock() = default;

std::uint16_t SodBlock::ElementTagOf(std::uint16_t sodId) noexcept {
    switch (sodId) {
        case 0x0D05:
            return 0x0650;
        case 0x0D06:
            return 0x0660;
        case 0x0D09:
            return 0x0690;
        default:
            return 0;
    }
}

std::uint32_t SodBlock::MaxLengthOf(std::uint16_t sodId) noexcept {
    return sodId == 0x0D05 ? 2560 : 2400;
}

std::unique_ptr<SodBlock> SodRegistry::CreateSodBlock(std::uint16_t sodId) const {
    (void)Find(sodId);
    return std::unique_ptr<SodBlock>(new SodBlock(sodId));
}
