// The blocks the client can read: the command-line name and the read method that hands each
// one out. The properties of the block objects come from the objects' own type information
// (block_reader.cpp).
#pragma once

#include <span>
#include <string>

namespace carvix::cli {

struct BlockInfo {
    const char* cliName;     // "vl-document"
    const char16_t* method;  // "ReadVLDocumentData"
    bool zk;                 // a block of the ZK application (ID 5); else VL (IDs 1 to 4)
};

/// Every block in reading order: the VL blocks, then the ZK blocks.
std::span<const BlockInfo> Blocks();
/// The block of a command-line name, or null.
const BlockInfo* FindBlock(const std::string& cliName);

}  // namespace carvix::cli
