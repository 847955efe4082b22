// The commands of the contactless mode: the card's contactless part as the substitute vendor
// library reaches it, in proprietary APDUs of class 90 (see README.md).
#pragma once

#include <functional>

#include "apdu.h"
#include "card_image.h"

namespace carvix::vcard {

class ContactlessApplet {
  public:
    static constexpr std::uint8_t kCla = 0x90;
    static constexpr std::uint8_t kInsCardInfo = 0x10;
    static constexpr std::uint8_t kInsReadFile = 0xB0;
    static constexpr std::uint8_t kInsWriteFile = 0xD6;
    /// READ FILE hands out at most this many file bytes after the 2-byte file length.
    static constexpr std::size_t kReadChunk = 240;

    // persist is called when a file write completes; if it throws, the card answers 6F00 and
    // keeps the old file.
    ContactlessApplet(CardImage& image, std::function<void()> persist);

    Response Process(const Command& cmd);
    // Power-off or reset: a write in progress is dropped.
    void Reset();

  private:
    Response CardInfo(const Command& cmd, ContactlessPart& part);
    Response ReadFile(const Command& cmd, ContactlessPart& part);
    Response WriteFile(const Command& cmd, ContactlessPart& part);

    CardImage& image_;
    std::function<void()> persist_;
    int stagedFile_ = 0;  // 1 or 2 while a write is in progress
    Bytes staged_;
};

}  // namespace carvix::vcard
