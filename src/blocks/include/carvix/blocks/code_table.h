// Enumerated codes: the fixed pairs of a number and the bytes that stand for it on the card,
// and the process-wide tables of them.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

/// An ordered list of (number, code bytes). Immutable once built; lookups take the first
/// matching entry in table order.
class CodeTable {
  public:
    struct Entry {
        std::int32_t number;
        Orvel::ByteArray code;
    };

    explicit CodeTable(std::vector<Entry> entries);
    /// Entries whose code bytes are the ASCII texts given.
    CodeTable(std::initializer_list<std::pair<std::int32_t, std::string_view>> entries);

    const std::vector<Entry>& Entries() const noexcept { return entries_; }
    /// The code bytes of `number`, or null when the table lacks it.
    const Orvel::ByteArray* CodeOf(std::int32_t number) const noexcept;
    /// The number whose code bytes equal `code` exactly (same length, same bytes).
    std::optional<std::int32_t> NumberOf(std::span<const std::uint8_t> code) const noexcept;

  private:
    std::vector<Entry> entries_;
};

/// The process-wide tables. Each is built exactly once, on first use (safe when several
/// threads get there together), and never changes afterwards.
namespace CodeTables {
/// Document IDs of the card document block: 1 "01" to 5 "05".
const CodeTable& DocumentIdCodes();
/// The second code of the card document block: 1 "01".
const CodeTable& DocumentFixedCodes();
/// VL status: 1 to 13 as "01" to "13".
const CodeTable& StatusCodes();
/// VL blood type: 1 to 8 as "01" to "08".
const CodeTable& BloodTypeCodes();
/// VL rank: 11-14, 21, 23-26, 31-33, 41-46, 49, as their two digits.
const CodeTable& RankCodes();
/// The contactless extract's own copies of the status and rank tables.
const CodeTable& ContactlessStatusCodes();
const CodeTable& ContactlessRankCodes();
/// ZK gender: 0 "00", 1 "01", 2 "02".
const CodeTable& GenderCodes();
/// ZK carrier family member: 0 "0", 1 "1".
const CodeTable& CarrierFamilyMemberCodes();
}  // namespace CodeTables
