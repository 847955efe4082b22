// The block models the tool can fill, by name, and their fields by property name.
#pragma once

#include "carvix/blocks/card_block.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace carvix::perso {

struct FieldRef {
    std::string name;
    std::function<TlvElement&(CardBlock&)> element;
};

struct ModelKind {
    std::string name;  // "VLDocument", "ZKVariableAdmin", ...
    std::uint16_t blockId;
    std::function<std::unique_ptr<CardBlock>()> make;
    std::vector<FieldRef> fields;
};

/// The data blocks of the VL application (IDs 1 to 4) or of the ZK application (ID 5).
const std::vector<ModelKind>& ModelsFor(std::uint16_t applicationId);

}  // namespace carvix::perso
