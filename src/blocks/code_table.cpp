#include "carvix/blocks/code_table.h"

#include <algorithm>
#include <cstdio>
#include <utility>

CodeTable::CodeTable(std::vector<Entry> entries) : entries_(std::move(entries)) {}

CodeTable::CodeTable(std::initializer_list<std::pair<std::int32_t, std::string_view>> entries) {
    entries_.reserve(entries.size());
    for (const auto& [number, text] : entries) {
        entries_.push_back(Entry{number, Orvel::ByteArray(text.begin(), text.end())});
    }
}

const Orvel::ByteArray* CodeTable::CodeOf(std::int32_t number) const noexcept {
    for (const Entry& entry : entries_) {
        if (entry.number == number) {
            return &entry.code;
        }
    }
    return nullptr;
}

std::optional<std::int32_t> CodeTable::NumberOf(std::span<const std::uint8_t> code) const noexcept {
    for (const Entry& entry : entries_) {
        if (std::ranges::equal(entry.code, code)) {
            return entry.number;
        }
    }
    return std::nullopt;
}

namespace {

/// Each number written as two decimal digits, with a leading zero below 10.
CodeTable TwoDigitCodes(std::initializer_list<std::int32_t> numbers) {
    std::vector<CodeTable::Entry> entries;
    entries.reserve(numbers.size());
    for (std::int32_t number : numbers) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02d", number);
        entries.push_back(CodeTable::Entry{number, Orvel::ByteArray(digits, digits + 2)});
    }
    return CodeTable(std::move(entries));
}

// clang-format off
constexpr std::initializer_list<std::int32_t> kStatusNumbers = {
    1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
constexpr std::initializer_list<std::int32_t> kRankNumbers = {
    11, 12, 13, 14, 21, 23, 24, 25, 26, 31, 32, 33, 41, 42, 43, 44, 45, 46, 49};
// clang-format on

}  // namespace

// Function-local statics: built once on first use, with the compiler's thread-safe
// one-time initialisation, and immutable afterwards.
namespace CodeTables {

const CodeTable& DocumentIdCodes() {
    static const CodeTable table = TwoDigitCodes({1, 2, 3, 4, 5});
    return table;
}

const CodeTable& DocumentFixedCodes() {
    static const CodeTable table = TwoDigitCodes({1});
    return table;
}

const CodeTable& StatusCodes() {
    static const CodeTable table = TwoDigitCodes(kStatusNumbers);
    return table;
}

const CodeTable& BloodTypeCodes() {
    static const CodeTable table = TwoDigitCodes({1, 2, 3, 4, 5, 6, 7, 8});
    return table;
}

const CodeTable& RankCodes() {
    static const CodeTable table = TwoDigitCodes(kRankNumbers);
    return table;
}

const CodeTable& ContactlessStatusCodes() {
    static const CodeTable table = TwoDigitCodes(kStatusNumbers);
    return table;
}

const CodeTable& ContactlessRankCodes() {
    static const CodeTable table = TwoDigitCodes(kRankNumbers);
    return table;
}

const CodeTable& GenderCodes() {
    static const CodeTable table{{0, "00"}, {1, "01"}, {2, "02"}};
    return table;
}

const CodeTable& CarrierFamilyMemberCodes() {
    static const CodeTable table{{0, "0"}, {1, "1"}};
    return table;
}

}  // namespace CodeTables
