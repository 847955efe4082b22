// Base64 (standard alphabet, "=" padding) straight between byte buffers and the UTF-8 text
// of a JSON message, so a photo is encoded once and never copied through UTF-16.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace carvix::bridge {

std::string EncodeBase64(std::span<const std::uint8_t> bytes);
/// The bytes, or nothing for text that is not padded Base64 (no white space allowed).
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

}  // namespace carvix::bridge
