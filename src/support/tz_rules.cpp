// Reading the platform's time-zone information: the POSIX rule of TZif data, reduced to one
// standard offset and one yearly rule pair.
#include "carvix/support/time_zone.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace Orvel {
namespace {

class RuleParser {
  public:
    explicit RuleParser(std::string_view text) : text_(text) {}

    bool AtEnd() const noexcept { return pos_ == text_.size(); }
    bool Peek(char c) const noexcept { return pos_ < text_.size() && text_[pos_] == c; }
    bool Accept(char c) noexcept {
        if (Peek(c)) {
            ++pos_;
            return true;
        }
        return false;
    }

    // A zone abbreviation: three or more letters, or any text in angle brackets.
    bool Name() {
        if (Accept('<')) {
            const std::size_t close = text_.find('>', pos_);
            if (close == std::string_view::npos || close - pos_ < 3) {
                return false;
            }
            pos_ = close + 1;
            return true;
        }
        const std::size_t begin = pos_;
        while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
        return pos_ - begin >= 3;
    }

    // [+-]hh[:mm[:ss]] as seconds; hours up to maxHours.
    bool Time(int maxHours, long& seconds) {
        int sign = 1;
        if (Accept('-')) {
            sign = -1;
        } else {
            Accept('+');
        }
        long hours = 0;
        if (!Number(0, maxHours, hours)) {
            return false;
        }
        long minutes = 0;
        long secs = 0;
        if (Accept(':')) {
            if (!Number(0, 59, minutes)) {
                return false;
            }
            if (Accept(':') && !Number(0, 59, secs)) {
                return false;
            }
        }
        seconds = sign * ((hours * 60 + minutes) * 60 + secs);
        return true;
    }

    // Mm.w.d[/time]; the default time is 02:00.
    bool Rule(TransitionRule& rule) {
        long month = 0;
        long week = 0;
        long day = 0;
        if (!Accept('M') || !Number(1, 12, month) || !Accept('.') || !Number(1, 5, week) ||
            !Accept('.') || !Number(0, 6, day)) {
            return false;
        }
        long seconds = 2 * 3600;
        if (Accept('/') && !Time(167, seconds)) {
            return false;
        }
        rule.month = static_cast<int>(month);
        rule.occurrence = static_cast<int>(week);
        rule.dayOfWeek = static_cast<int>(day);
        rule.hour = static_cast<int>(seconds / 3600);
        rule.minute = static_cast<int>(seconds / 60 % 60);
        rule.second = static_cast<int>(seconds % 60);
        rule.millisecond = 0;
        return true;
    }

  private:
    bool Number(long min, long max, long& value) {
        const std::size_t begin = pos_;
        value = 0;
        while (pos_ < text_.size() && pos_ - begin < 4 &&
               std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
            value = value * 10 + (text_[pos_] - '0');
            ++pos_;
        }
        return pos_ > begin && value >= min && value <= max;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::uint32_t ReadBe32(std::span<const std::uint8_t> data, std::size_t at) {
    return (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) |
           (std::uint32_t{data[at + 2]} << 8) | data[at + 3];
}

struct TzifHeader {
    std::uint64_t isut, isstd, leap, time, type, chars;
};

constexpr std::size_t kHeaderSize = 44;

bool ReadHeader(std::span<const std::uint8_t> data, std::size_t at, TzifHeader& h) {
    if (data.size() < at + kHeaderSize || data[at] != 'T' || data[at + 1] != 'Z' ||
        data[at + 2] != 'i' || data[at + 3] != 'f') {
        return false;
    }
    h = TzifHeader{ReadBe32(data, at + 20), ReadBe32(data, at + 24), ReadBe32(data, at + 28),
                   ReadBe32(data, at + 32), ReadBe32(data, at + 36), ReadBe32(data, at + 40)};
    return true;
}

std::uint64_t BlockSize(const TzifHeader& h, std::uint64_t timeSize) {
    return h.time * (timeSize + 1) + h.type * 6 + h.chars + h.leap * (timeSize + 4) + h.isstd +
           h.isut;
}

// The zone as the fixed offset of the local time type of its last transition (or of its first
// type when it has no transitions).
std::optional<TimeZoneRules> FixedOffsetOfBlock(std::span<const std::uint8_t> data,
                                                std::size_t block, const TzifHeader& h,
                                                std::uint64_t timeSize) {
    if (h.type == 0 || block + BlockSize(h, timeSize) > data.size()) {
        return std::nullopt;
    }
    std::uint64_t type = 0;
    if (h.time > 0) {
        type = data[block + h.time * timeSize + h.time - 1];
    }
    if (type >= h.type) {
        return std::nullopt;
    }
    const std::size_t info = block + h.time * (timeSize + 1) + type * 6;
    const auto utoff = static_cast<std::int32_t>(ReadBe32(data, info));
    // Real offsets lie within a day of UTC; anything else is damaged data.
    if (utoff < -25 * 3600 || utoff > 26 * 3600) {
        return std::nullopt;
    }
    TimeZoneRules rules;
    rules.bias = -utoff / 60;
    return rules;
}

std::optional<std::vector<std::uint8_t>> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    constexpr std::size_t kLimit = 1 << 20;
    std::vector<std::uint8_t> data;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        data.insert(data.end(), buffer, buffer + in.gcount());
        if (data.size() > kLimit) {
            return std::nullopt;
        }
    }
    return data;
}

std::optional<TimeZoneRules> RulesFromFile(const std::string& path) {
    const auto data = ReadFile(path);
    if (!data) {
        return std::nullopt;
    }
    return TimeZoneRulesFromTzif(*data);
}

}  // namespace

std::optional<TimeZoneRules> ParsePosixTimeZone(std::string_view text) {
    RuleParser p(text);
    long standardOffset = 0;
    if (!p.Name() || !p.Time(24, standardOffset)) {
        return std::nullopt;
    }
    TimeZoneRules rules;
    rules.bias = static_cast<std::int32_t>(standardOffset / 60);
    if (p.AtEnd()) {
        return rules;
    }
    if (!p.Name()) {
        return std::nullopt;
    }
    long daylightOffset = standardOffset - 3600;
    if (!p.Peek(',') && !p.AtEnd() && !p.Time(24, daylightOffset)) {
        return std::nullopt;
    }
    if (p.Accept(',')) {
        if (!p.Rule(rules.daylightDate) || !p.Accept(',') || !p.Rule(rules.standardDate)) {
            return std::nullopt;
        }
    } else {
        // A daylight name without rules takes the conventional default rules.
        rules.daylightDate = TransitionRule{3, 0, 2, 2, 0, 0, 0};
        rules.standardDate = TransitionRule{11, 0, 1, 2, 0, 0, 0};
    }
    if (!p.AtEnd()) {
        return std::nullopt;
    }
    rules.hasDaylightInformation = true;
    rules.daylightBias = static_cast<std::int32_t>((daylightOffset - standardOffset) / 60);
    return rules;
}

std::optional<TimeZoneRules> TimeZoneRulesFromTzif(std::span<const std::uint8_t> data) {
    TzifHeader v1{};
    if (!ReadHeader(data, 0, v1)) {
        return std::nullopt;
    }
    const std::uint64_t v1Size = BlockSize(v1, 4);
    TzifHeader v2{};
    if (data[4] >= '2' && v1Size <= data.size() && ReadHeader(data, kHeaderSize + v1Size, v2)) {
        const std::uint64_t block = 2 * kHeaderSize + v1Size;
        const std::uint64_t footer = block + BlockSize(v2, 8);
        if (footer < data.size() && data[footer] == '\n') {
            std::string rule;
            for (std::size_t i = footer + 1; i < data.size() && data[i] != '\n'; ++i) {
                rule.push_back(static_cast<char>(data[i]));
            }
            if (auto rules = ParsePosixTimeZone(rule)) {
                return rules;
            }
        }
        if (auto rules = FixedOffsetOfBlock(data, block, v2, 8)) {
            return rules;
        }
    }
    if (auto rules = FixedOffsetOfBlock(data, kHeaderSize, v1, 4)) {
        return rules;
    }
    return TimeZoneRules{};
}

TimeZoneRules LoadPlatformTimeZoneRules() {
    const char* tz = std::getenv("TZ");
    if (tz == nullptr) {
        return RulesFromFile("/etc/localtime").value_or(TimeZoneRules{});
    }
    std::string name(tz);
    if (!name.empty() && name.front() == ':') {
        name.erase(0, 1);
    }
    if (name.empty()) {
        return TimeZoneRules{};
    }
    std::string path = name;
    if (name.front() != '/') {
        const char* dir = std::getenv("TZDIR");
        path =
            std::string(dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo") + "/" + name;
    }
    if (auto rules = RulesFromFile(path)) {
        return *rules;
    }
    return ParsePosixTimeZone(name).value_or(TimeZoneRules{});
}

}  // namespace Orvel
