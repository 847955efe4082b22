// Tables that give a fixed text for a number (message IDs, error codes), kept as plain
// constexpr data sorted by number and searched by halving.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace Orvel {

struct IdText {
    std::uint32_t id;
    const char16_t* text;
};

/// True when the IDs rise strictly: what FindText needs; check each table with static_assert.
constexpr bool SortedById(std::span<const IdText> table) noexcept {
    return std::adjacent_find(table.begin(), table.end(), [](const IdText& a, const IdText& b) {
               return a.id >= b.id;
           }) == table.end();
}

/// The text for `id`, or null when the table has none.
constexpr const char16_t* FindText(std::span<const IdText> table, std::uint32_t id) noexcept {
    const auto it = std::lower_bound(table.begin(), table.end(), id,
                                     [](const IdText& e, std::uint32_t key) { return e.id < key; });
    return it != table.end() && it->id == id ? it->text : nullptr;
}

}  // namespace Orvel
