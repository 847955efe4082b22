// The card applet's commands for one application: selection, reading and writing of the
// elementary files that hold the data blocks.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstdint>
#include <span>

namespace SmartCardIO {
class TransactionGuard;
}

/// One object per applet identifier (AID), process-wide and immutable. Every operation that
/// talks to the card runs inside the caller's transaction (the guard is the proof) and throws
/// `JavaCard::AppletException` for a status word other than 9000.
class AppletCommandSet {
  public:
    /// The command set of an application ID (0 to 6); others raise `CardException`
    /// "Number %d is not valid value for card ID".
    static const AppletCommandSet& For(std::uint16_t applicationId);

    explicit AppletCommandSet(Orvel::ByteArray aid);
    const Orvel::ByteArray& Aid() const noexcept { return aid_; }

    /// SELECT by name: 00 A4 04 00 with the AID and Le 00 (Le alone for an empty AID).
    void SelectApplet(const SmartCardIO::TransactionGuard& guard) const;
    /// SELECT by file identifier: 00 A4 00 00 02 ID-high ID-low 00; returns the answer data.
    Orvel::ByteArray SelectFile(const SmartCardIO::TransactionGuard& guard,
                                std::uint16_t fileId) const;
    /// READ BINARY in pieces of at most 128 bytes from `offset`. Every piece must come back
    /// with the length asked for (`CardException` otherwise), and no position past 0xFFFF is
    /// ever addressed.
    Orvel::ByteArray ReadBinary(const SmartCardIO::TransactionGuard& guard, std::uint16_t offset,
                                std::uint32_t length) const;
    /// SelectFile, then UPDATE BINARY of the data in pieces of at most 128 bytes from offset 0.
    void WriteFile(const SmartCardIO::TransactionGuard& guard, std::uint16_t fileId,
                   std::span<const std::uint8_t> data) const;

    /// The file size (bytes 2 and 3, big-endian) of a select answer. An answer of fewer than
    /// 10 bytes raises `Orvel::FrameworkError` (E_INVALIDARG).
    static std::uint16_t FileSizeOf(std::span<const std::uint8_t> selectResponse);

    /// The largest piece one READ BINARY or UPDATE BINARY carries.
    static constexpr std::uint32_t kPieceSize = 128;

  private:
    Orvel::ByteArray aid_;
};
