// `carvix write`: a variable block of the card written from JSON after authenticating by
// challenge and response, through CARVIX.Auth and CARVIX.DocAdmin as any script does it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace carvix::cli {

/// A block the client can write: its read-side description, the class of its object and
/// the write method of CARVIX.DocAdmin.
struct WritableBlock {
    const char* cliName;     // "vl-variable"
    const char16_t* progId;  // "CARVIX.VLVXPersoBlock"
    const char16_t* method;  // "WriteVLVariablePersoData"
};

std::span<const WritableBlock> WritableBlocks();

struct WriteOptions {
    std::string block;
    std::string reader;
    int app = -1;  // default by block: 1 for VL, 5 for ZK
    std::int64_t role = -1;
    std::string from;         // the JSON file
    std::string signer;       // certificate file; empty: the component chooses
    std::string respondWith;  // the response command
    std::string pinFile;      // PIN of a token signer key; empty: asked on the terminal
};

/// Runs the write; returns the exit status (0 written, 1 failed, 2 bad input). Failed
/// automation calls are thrown as ClientError for the caller to report.
int Write(const WriteOptions& options);

}  // namespace carvix::cli
