// Builds scripted card sessions for the applet tests: the exact APDUs of one block read, and
// hand-made block bytes.
#pragma once

#include "carvix/support/byte_array.h"
#include "scripted_channel.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace cardtest {

using Orvel::ByteArray;

inline const ByteArray kVlAid = {0xF3, 0x81, 0x00, 0x00, 0x02, 0x53, 0x45,
                                 0x52, 0x51, 0x58, 0x56, 0x4C, 0x01};
inline const ByteArray kZkAid = {0xF3, 0x81, 0x00, 0x00, 0x02, 0x53, 0x45,
                                 0x52, 0x51, 0x58, 0x5A, 0x4B, 0x01};
inline const ByteArray kOk = {0x90, 0x00};

inline ByteArray Cat(std::initializer_list<ByteArray> parts) {
    ByteArray out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

inline ByteArray Le16(std::size_t v) {
    return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>((v >> 8) & 0xFF)};
}

/// One TLV element or block: tag and length little-endian, then the value.
inline ByteArray Tlv(std::uint16_t tag, const ByteArray& value) {
    return Cat({Le16(tag), Le16(value.size()), value});
}

/// The card document block 0x0D00 with a two-digit document ID and the declared blocks.
inline ByteArray CardDocument(const char* documentId, std::vector<std::uint16_t> declared) {
    ByteArray list;
    for (auto id : declared) {
        list.insert(list.end(),
                    {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8)});
    }
    ByteArray docId = {static_cast<std::uint8_t>(documentId[0]),
                       static_cast<std::uint8_t>(documentId[1])};
    return Tlv(0x0D00, Cat({Tlv(0x0601, docId), Tlv(0x0602, {'0', '1'}), Tlv(0x0603, list)}));
}

inline ByteArray SelectApplet(const ByteArray& aid) {
    return Cat({{0x00, 0xA4, 0x04, 0x00, static_cast<std::uint8_t>(aid.size())}, aid, {0x00}});
}

inline ByteArray SelectFile(std::uint16_t id) {
    return {0x00,
            0xA4,
            0x00,
            0x00,
            0x02,
            static_cast<std::uint8_t>(id >> 8),
            static_cast<std::uint8_t>(id),
            0x00};
}

inline ByteArray SelectAnswer(std::size_t fileSize) {
    return {0x62,
            0x0A,
            static_cast<std::uint8_t>(fileSize >> 8),
            static_cast<std::uint8_t>(fileSize),
            0x01,
            0x02,
            0x03,
            0x04,
            0x05,
            0x06,
            0x90,
            0x00};
}

inline ByteArray ReadBinary(std::size_t offset, std::size_t length) {
    return {0x00, 0xB0, static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset),
            static_cast<std::uint8_t>(length)};
}

/// The session of one block read under T=1: applet and file selection, the 4-byte header,
/// then the whole block in pieces of 128 bytes.
inline void ExpectRead(carvix::test::CardScript& script, const ByteArray& aid, std::uint16_t id,
                       const ByteArray& block, std::size_t fileSize = 0) {
    script.Apdu(SelectApplet(aid), kOk);
    script.Apdu(SelectFile(id), SelectAnswer(fileSize != 0 ? fileSize : block.size()));
    script.Apdu(ReadBinary(0, 4), Cat({ByteArray(block.begin(), block.begin() + 4), kOk}));
    for (std::size_t at = 0; at < block.size(); at += 128) {
        std::size_t piece = std::min<std::size_t>(128, block.size() - at);
        script.Apdu(ReadBinary(at, piece),
                    Cat({ByteArray(block.begin() + static_cast<long>(at),
                                   block.begin() + static_cast<long>(at + piece)),
                         kOk}));
    }
}

}  // namespace cardtest
