#include "carvix/support/string_table.h"

#include <algorithm>
#include <array>

namespace Orvel {
namespace {

struct Entry {
    std::uint32_t id;
    const char16_t* text;
};

// Sorted by ID. Every layer's messages that are loaded by number live here.
constexpr Entry kStrings[] = {
    {100, u"carvix"},
    {20485, u"\r\nParameter Name: "},
    {20487, u"Specified argument was out of the range of valid values."},
    {20488, u"An unhandled exception was thrown."},
    {20490, u"An unrecognized Win32Exception was thrown."},
    {20491, u"Valid values are between %d and %d, inclusive."},
    {21698, u"Certificate store is already opened."},
    {21699, u"Certificate store is already closed."},
    {21700, u"Certificate store is not opened."},
    {21701, u"Invalid flags specified."},
    {21702, u"Certificate is not initialized."},
};

}  // namespace

std::u16string LoadString(std::uint32_t id) {
    static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                                 [](const Entry& a, const Entry& b) { return a.id < b.id; }));
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const Entry& e, std::uint32_t key) { return e.id < key; });
    if (it == std::end(kStrings) || it->id != id) {
        return {};
    }
    return it->text;
}

}  // namespace Orvel
