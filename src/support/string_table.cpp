#include "carvix/support/string_table.h"

#include "carvix/support/id_text.h"

namespace Orvel {
namespace {

// Sorted by ID. Every layer's messages that are loaded by number live here.
constexpr IdText kStrings[] = {
    {100, u"carvix"},
    {20482, u"Invalid length for a Base-64 string."},
    {20483, u"Invalid character in a Base-64 string."},
    {20485, u"\r\nParameter Name: "},
    {20487, u"Specified argument was out of the range of valid values."},
    {20488, u"An unhandled exception was thrown."},
    {20490, u"An unrecognized Win32Exception was thrown."},
    {20491, u"Valid values are between %d and %d, inclusive."},
    {20492, u"Combination of arguments to the DateTime constructor is out of the legal range."},
    {20493, u"The added or subtracted value results in an un-representable DateTime."},
    {20494, u"Not a valid Win32 FileTime."},
    {20497, u"Month must be between one and twelve."},
    {20498, u"Value to add was out of range."},
    {20499, u"TimeSpan overflowed because the duration is too long."},
    {20994, u"The path is too long."},
    {21698, u"Certificate store is already opened."},
    {21699, u"Certificate store is already closed."},
    {21700, u"Certificate store is not opened."},
    {21701, u"Invalid flags specified."},
    {21702, u"Certificate is not initialized."},
};

}  // namespace

static_assert(SortedById(kStrings));

std::u16string LoadString(std::uint32_t id) {
    const char16_t* text = FindText(kStrings, id);
    return text != nullptr ? text : std::u16string();
}

}  // namespace Orvel
