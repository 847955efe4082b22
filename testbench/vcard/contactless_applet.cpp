#include "contactless_applet.h"

#include <algorithm>

namespace carvix::vcard {

namespace {

constexpr std::uint8_t kWriteLastChunk = 0x01;

bool SameKey(std::span<const std::uint8_t> given, const Bytes& key) {
    return given.size() == key.size() && std::equal(key.begin(), key.end(), given.begin());
}

std::size_t OffsetAt(const Bytes& data, std::size_t at) {
    return static_cast<std::size_t>((data[at] << 8) | data[at + 1]);
}

}  // namespace

ContactlessApplet::ContactlessApplet(CardImage& image, std::function<void()> persist)
    : image_(image), persist_(std::move(persist)) {}

void ContactlessApplet::Reset() {
    stagedFile_ = 0;
    staged_.clear();
}

Response ContactlessApplet::Process(const Command& cmd) {
    if (!image_.contactless) {
        return Response::Status(sw::kClaNotSupported);  // a contact-only card
    }
    ContactlessPart& part = *image_.contactless;
    switch (cmd.ins) {
        case kInsCardInfo:
            return CardInfo(cmd, part);
        case kInsReadFile:
            return ReadFile(cmd, part);
        case kInsWriteFile:
            return WriteFile(cmd, part);
        default:
            return Response::Status(sw::kInsNotSupported);
    }
}

// 90 10 00 00 10 <read key> [Le]: the serial number, 00, the chip's description.
Response ContactlessApplet::CardInfo(const Command& cmd, ContactlessPart& part) {
    if (cmd.p1 != 0 || cmd.p2 != 0) {
        return Response::Status(sw::kWrongP1P2);
    }
    if (cmd.data.size() != 16) {
        return Response::Status(sw::kWrongLength);
    }
    if (!SameKey(cmd.data, part.readKey)) {
        return Response::Status(sw::kSecurityNotSatisfied);
    }
    static constexpr char kDescription[] = "carvix-vcard contactless";
    Bytes out(part.serial.begin(), part.serial.end());
    out.push_back(0x00);
    out.insert(out.end(), kDescription, kDescription + sizeof kDescription - 1);
    return Response{out, sw::kOk};
}

// 90 B0 <file> 00 12 <read key> <offset (2)> [Le]: the file's length (2), then up to 240
// of its bytes from the offset.
Response ContactlessApplet::ReadFile(const Command& cmd, ContactlessPart& part) {
    if (cmd.p1 < 1 || cmd.p1 > 2 || cmd.p2 != 0) {
        return Response::Status(cmd.p2 != 0 ? sw::kWrongP1P2 : sw::kNotFound);
    }
    if (cmd.data.size() != 18) {
        return Response::Status(sw::kWrongLength);
    }
    if (!SameKey(std::span(cmd.data).first(16), part.readKey)) {
        return Response::Status(sw::kSecurityNotSatisfied);
    }
    const Bytes& file = part.files[cmd.p1 - 1];
    const std::size_t offset = OffsetAt(cmd.data, 16);
    if (offset > file.size()) {
        return Response::Status(sw::kOffsetOutside);
    }
    const std::size_t n = std::min(kReadChunk, file.size() - offset);
    Bytes out{static_cast<std::uint8_t>(file.size() >> 8), static_cast<std::uint8_t>(file.size())};
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(offset),
               file.begin() + static_cast<std::ptrdiff_t>(offset + n));
    return Response{out, sw::kOk};
}

// 90 D6 <file> <00 more | 01 last> Lc <key length (1)> <write key> <offset (2)> <bytes>.
// Pieces come in order from offset 0; the file changes only with the last piece, so a write
// that stops half-way leaves the old file.
Response ContactlessApplet::WriteFile(const Command& cmd, ContactlessPart& part) {
    if (cmd.p1 < 1 || cmd.p1 > 2) {
        return Response::Status(sw::kNotFound);
    }
    if (cmd.p2 > kWriteLastChunk) {
        return Response::Status(sw::kWrongP1P2);
    }
    if (cmd.data.empty() || cmd.data.size() < 1u + cmd.data[0] + 2u) {
        return Response::Status(sw::kWrongLength);
    }
    const std::size_t keyLength = cmd.data[0];
    if (!SameKey(std::span(cmd.data).subspan(1, keyLength), part.writeKey)) {
        Reset();
        return Response::Status(sw::kSecurityNotSatisfied);
    }
    const std::size_t offset = OffsetAt(cmd.data, 1 + keyLength);
    const auto piece = std::span(cmd.data).subspan(3 + keyLength);
    if (offset == 0) {
        stagedFile_ = cmd.p1;
        staged_.clear();
    } else if (stagedFile_ != cmd.p1 || offset != staged_.size()) {
        Reset();
        return Response::Status(sw::kWrongData);
    }
    if (staged_.size() + piece.size() > ContactlessPart::kFileCapacity) {
        Reset();
        return Response::Status(sw::kFileFull);
    }
    staged_.insert(staged_.end(), piece.begin(), piece.end());
    if (cmd.p2 != kWriteLastChunk) {
        return Response::Status(sw::kOk);
    }
    Bytes previous = std::move(part.files[cmd.p1 - 1]);
    part.files[cmd.p1 - 1] = std::move(staged_);
    Reset();
    try {
        persist_();
    } catch (...) {
        part.files[cmd.p1 - 1] = std::move(previous);
        return Response::Status(sw::kNoPreciseDiagnosis);
    }
    return Response::Status(sw::kOk);
}

}  // namespace carvix::vcard
