// The line format of the dialog protocol (tools/dialog/PROTOCOL.md), shared by the runtime
// that starts carvix-dialog and by the program itself: a line is fields separated by single
// spaces, each field UTF-8 with '%', space and control bytes written as %XX.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace carvix::dialog {

/// The longest line either side accepts, line end excluded.
inline constexpr std::size_t kMaxLine = 1 << 20;

/// One field, escaped: every byte below 0x21, 0x7F and '%' as %XX (upper-case hex).
inline std::string Escape(std::string_view field) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(field.size());
    for (const char c : field) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F || b == '%') {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

/// The field's bytes, or none when an escape is malformed (not two hex digits).
inline std::optional<std::string> Unescape(std::string_view field) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;
    };
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out.push_back(field[i]);
            continue;
        }
        if (i + 2 >= field.size()) {
            return std::nullopt;
        }
        const int high = hex(field[i + 1]);
        const int low = hex(field[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

/// The fields of a line (without its line end), unescaped; none when a field is malformed.
/// Every space separates: "A  B" has an empty field between A and B.
inline std::optional<std::vector<std::string>> Split(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        const std::string_view raw = line.substr(
            start, space == std::string_view::npos ? std::string_view::npos : space - start);
        auto field = Unescape(raw);
        if (!field) {
            return std::nullopt;
        }
        fields.push_back(std::move(*field));
        if (space == std::string_view::npos) {
            return fields;
        }
        start = space + 1;
    }
}

/// A line of escaped fields joined by spaces, without its line end.
inline std::string Join(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i != 0) {
            line.push_back(' ');
        }
        line += Escape(fields[i]);
    }
    return line;
}

/// Overwrites a string that held a secret, then empties it.
inline void Wipe(std::string& secret) noexcept {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) {
        p[i] = 0;
    }
    secret.clear();
}

}  // namespace carvix::dialog
