// The blocks the client can read: the read method that hands each one out and the
// properties a script sees on its object.
#pragma once

#include <span>
#include <string>

namespace carvix::cli {

enum class Kind { Text, Date, Number, Photo, Insurances };

struct Property {
    const char16_t* name;
    Kind kind;
    bool optional;  // has a <name>Specified flag; left out when the flag is false
};

struct BlockInfo {
    const char* cliName;     // "vl-document"
    const char16_t* method;  // "ReadVLDocumentData"
    bool zk;                 // a block of the ZK application (ID 5); else VL (IDs 1 to 4)
    std::span<const Property> properties;
};

/// Every block in reading order: the VL blocks, then the ZK blocks.
std::span<const BlockInfo> Blocks();
/// The block of a command-line name, or null.
const BlockInfo* FindBlock(const std::string& cliName);

/// The properties of one voluntary-insurance entry.
std::span<const Property> InsuranceProperties();

}  // namespace carvix::cli
