// What a read method of the service needs to know about its block, all of it taken from the
// block interface it hands out: the interface's model (its block ID, and a new empty one to
// read into) and the interface ID. The class comes from the object map (the class whose
// primary interface it is).
#pragma once

#include "carvix/automation/interfaces.h"
#include "carvix/blocks/card_block.h"

#include <cstdint>
#include <memory>

namespace carvix::com {

struct ReadMethod {
    std::uint16_t blockId;
    const IID& iid;  // the interface handed to the caller
    std::unique_ptr<CardBlock> (*makeModel)();
};

template <class Model>
std::unique_ptr<CardBlock> MakeModel() {
    return std::make_unique<Model>();
}

/// The read method that hands out block interface Block.
template <class Block>
inline constexpr ReadMethod kReadOf{Block::Model::kBlockId, Block::kIid,
                                    &MakeModel<typename Block::Model>};

}  // namespace carvix::com
