// The table of the service's read methods: which block each one reads, into which model,
// and which block object it hands out.
#pragma once

#include "carvix/automation/interfaces.h"

#include <cstdint>
#include <memory>
#include <span>

class CardBlock;

namespace carvix::com {

struct ReadMethod {
    const char16_t* name;  // the method's name, for diagnostics
    std::uint16_t blockId;
    const CLSID& clsid;  // the block object's class
    const IID& iid;      // the interface handed to the caller
    std::unique_ptr<CardBlock> (*makeModel)();
};

extern const ReadMethod kReadVLDocument;
extern const ReadMethod kReadVLFixedPerso;
extern const ReadMethod kReadVLPhoto;
extern const ReadMethod kReadVLVariablePerso;
extern const ReadMethod kReadZKDocument;
extern const ReadMethod kReadZKFixedAdmin;
extern const ReadMethod kReadZKFixedPerso;
extern const ReadMethod kReadZKVariableAdmin;
extern const ReadMethod kReadZKVariablePerso;

/// The nine rows in DISPID order.
std::span<const ReadMethod* const> ReadMethods();

}  // namespace carvix::com
