#include "script_object.h"

#include "carvix/com/notifier.h"

namespace carvix::test {
namespace {

void Catch(const char16_t* caption, const char16_t* text, std::uint32_t style) {
    NoticeCatcher::Seen().push_back({caption, text, style});
}

}  // namespace

NoticeCatcher::NoticeCatcher() {
    Seen().clear();
    com::SetNotifier(&Catch);
}

NoticeCatcher::~NoticeCatcher() {
    com::SetNotifier(nullptr);
}

std::vector<NoticeCatcher::Notice>& NoticeCatcher::Seen() {
    static std::vector<Notice> seen;
    return seen;
}

DATE OleDate(int year, int month, int day, int hour, int minute, int second) {
    const SYSTEMTIME st{static_cast<std::uint16_t>(year),
                        static_cast<std::uint16_t>(month),
                        0,
                        static_cast<std::uint16_t>(day),
                        static_cast<std::uint16_t>(hour),
                        static_cast<std::uint16_t>(minute),
                        static_cast<std::uint16_t>(second),
                        0};
    DATE date = 0;
    EXPECT_EQ(SystemTimeToVariantTime(&st, &date), 1);
    return date;
}

}  // namespace carvix::test
