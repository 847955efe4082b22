#include "output.h"

#include <algorithm>

namespace carvix::cli {
namespace {

std::string Scalar(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

std::string Insurance(const Json& entry) {
    std::string line;
    for (const auto& [key, value] : entry.items()) {
        line += (line.empty() ? "" : "  ") + key + " " + Scalar(value);
    }
    return line;
}

}  // namespace

std::string Listing(const std::string& title, const Json& block) {
    std::size_t width = 0;
    for (const auto& [key, value] : block.items()) {
        width = std::max(width, key.size());
    }
    std::string out = title + "\n";
    for (const auto& [key, value] : block.items()) {
        const std::string name = "  " + key + std::string(width - key.size() + 2, ' ');
        if (key == "Photo") {
            const auto bytes = FromBase64(value.get<std::string>());
            out += name + std::to_string(bytes ? bytes->size() : 0) + " bytes\n";
        } else if (value.is_array()) {
            int n = 0;
            for (const Json& entry : value) {
                const std::string lead = n == 0 ? name : std::string(width + 4, ' ');
                ++n;
                out += lead + std::to_string(n) + ". " + Insurance(entry) + "\n";
            }
        } else {
            out += name + Scalar(value) + "\n";
        }
    }
    return out;
}

std::optional<std::vector<unsigned char>> FromBase64(const std::string& text) {
    auto sextet = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    };
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad =
            last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
        int v[4];
        for (int k = 0; k < 4 - pad; ++k) {
            v[k] = sextet(text[i + static_cast<std::size_t>(k)]);
            if (v[k] < 0) {
                return std::nullopt;
            }
        }
        for (int k = 4 - pad; k < 4; ++k) {
            v[k] = 0;
        }
        const unsigned n = (static_cast<unsigned>(v[0]) << 18) |
                           (static_cast<unsigned>(v[1]) << 12) |
                           (static_cast<unsigned>(v[2]) << 6) | static_cast<unsigned>(v[3]);
        out.push_back(static_cast<unsigned char>(n >> 16));
        if (pad < 2)
            out.push_back(static_cast<unsigned char>(n >> 8));
        if (pad < 1)
            out.push_back(static_cast<unsigned char>(n));
    }
    return out;
}

}  // namespace carvix::cli
