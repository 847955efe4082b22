// Puts one JSON value of a card description into a block element, by the element's kind.
#pragma once

#include "carvix/blocks/tlv_element.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace carvix::perso {

/// Texts are JSON strings (UTF-8); dates "YYYY-MM-DD"; codes numbers; bytes {"hex": ...},
/// {"base64": ...}, {"file": path relative to `baseDir`}, {"pattern": length} (a fixed
/// byte pattern of that length) or {"jpeg": {"width": w, "height": h}} (a drawn portrait);
/// the insurance list an array of {"Code", "PolicyCode", "ValidTo"}. Raises PersoError naming
/// `where` for a value of the wrong kind.
void SetField(TlvElement& element, const nlohmann::json& value,
              const std::filesystem::path& baseDir, const std::string& where);

}  // namespace carvix::perso
