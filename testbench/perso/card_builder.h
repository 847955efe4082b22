// Builds the card image of the emulator from a card description: every block encoded with
// the block models, the card document block listing them, and each SOD signed.
#pragma once

#include "document_signer.h"

#include "carvix/support/byte_array.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace carvix::perso {

/// The files of one application as they go on the card.
struct BuiltApplication {
    std::uint16_t applicationId = 0;
    std::string label;
    Orvel::ByteArray aid;
    std::map<std::uint16_t, Orvel::ByteArray> blocks;  // stored bytes by block (file) ID
    nlohmann::json roles = nlohmann::json::array();
};

/// One application of the description ("applicationId", "blocks", "extraBlocks", "roles").
BuiltApplication BuildApplication(const nlohmann::json& application,
                                  const std::filesystem::path& baseDir,
                                  const DocumentSigner& signer, const std::string& where);

/// The size the file of a block gets on the card: room to grow for the blocks that are
/// written, the block's own size otherwise.
std::uint16_t FileSizeFor(std::uint16_t blockId, std::size_t blockSize);

struct ImageOptions {
    std::optional<std::string> protocol;  // "T=0" or "T=1"; overrides the description
    std::optional<std::string> atr;       // hexadecimal; overrides the description
};

/// The whole emulator image (format carvix-vcard/1).
nlohmann::json BuildImage(const nlohmann::json& description, const std::filesystem::path& baseDir,
                          const DocumentSigner& signer, const ImageOptions& options);

}  // namespace carvix::perso
