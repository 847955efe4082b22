// Reads and writes the JSON card image (format described in README.md).
#pragma once

#include <filesystem>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "card_image.h"

namespace carvix::vcard {

class ImageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Parses and checks an image document; throws ImageError naming the offending field.
CardImage ParseImage(const nlohmann::json& doc);

// A card image bound to its file: writes go back into the same JSON document, so fields
// this program does not know (comments, personalisation data) survive a rewrite.
class ImageFile {
  public:
    explicit ImageFile(std::filesystem::path path);  // loads and parses; throws ImageError

    CardImage& Image() { return image_; }
    const std::filesystem::path& Path() const { return path_; }

    // Writes the current file contents back: a temporary file in the same folder, flushed to
    // disk, then renamed over the image, so a crash leaves either the old or the new image.
    void Save();

  private:
    std::filesystem::path path_;
    nlohmann::json doc_;
    CardImage image_;
};

// Writes text to path atomically (temporary file, fsync, rename); throws ImageError.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text);

}  // namespace carvix::vcard
