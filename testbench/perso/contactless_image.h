// The image of a card's contactless part, built from the VL application of a card
// description: the extract in file 1, its SOD in file 2, the keys and the serial number.
#pragma once

#include "document_signer.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace carvix::perso {

/// The ATR of the contactless part (T=1).
inline constexpr const char* kContactlessAtr = "3B888001435658434C4553530E";

/// The emulator image (format carvix-vcard/1, contactless mode) of the description's
/// "contactless" member. `documentSigner` signs the contact blocks the extract is taken from
/// (only to build them); the extract's SOD is signed by the contactless signer of the
/// description, without its certificate in the message.
nlohmann::json BuildContactlessImage(const nlohmann::json& description,
                                     const std::filesystem::path& baseDir,
                                     const DocumentSigner& documentSigner);

}  // namespace carvix::perso
