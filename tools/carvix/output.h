// What the client prints: the aligned listing of a block, and the photo bytes.
#pragma once

#include "block_reader.h"

#include <optional>
#include <string>
#include <vector>

namespace carvix::cli {

/// The block as "Name   value" lines, names padded to one column; the photo as its size,
/// each voluntary insurance on a line of its own.
std::string Listing(const std::string& title, const Json& block);

/// Standard Base64 (with "=" padding) to bytes; nullopt for text that is not Base64.
std::optional<std::vector<unsigned char>> FromBase64(const std::string& text);

}  // namespace carvix::cli
