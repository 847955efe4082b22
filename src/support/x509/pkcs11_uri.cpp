#include "carvix/support/pkcs11_uri.h"

#include <cctype>

namespace Orvel::Pkcs11 {
namespace {

bool Unreserved(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

void Encode(std::string& out, const std::uint8_t* data, std::size_t size) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < size; ++i) {
        if (Unreserved(data[i])) {
            out += static_cast<char>(data[i]);
        } else {
            out += '%';
            out += kHex[data[i] >> 4];
            out += kHex[data[i] & 0xF];
        }
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<ByteArray> Decode(std::string_view text) {
    ByteArray out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(static_cast<std::uint8_t>(text[i]));
            continue;
        }
        const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
        i += 2;
    }
    return out;
}

}  // namespace

std::string FormatKeyLink(const KeyLink& link) {
    std::string uri = "pkcs11:token=";
    Encode(uri, reinterpret_cast<const std::uint8_t*>(link.token.data()), link.token.size());
    uri += ";id=";
    Encode(uri, link.id.data(), link.id.size());
    uri += ";type=private";
    return uri;
}

std::optional<KeyLink> ParseKeyLink(std::string_view uri) {
    constexpr std::string_view kScheme = "pkcs11:";
    if (uri.substr(0, kScheme.size()) != kScheme) {
        return std::nullopt;
    }
    std::string_view path = uri.substr(kScheme.size());
    path = path.substr(0, path.find('?'));
    std::optional<ByteArray> token;
    std::optional<ByteArray> id;
    while (!path.empty()) {
        const std::size_t end = path.find(';');
        const std::string_view item = path.substr(0, end);
        path = end == std::string_view::npos ? std::string_view{} : path.substr(end + 1);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = item.substr(0, equals);
        auto value = Decode(item.substr(equals + 1));
        if (!value) {
            return std::nullopt;
        }
        if (name == "token") {
            token = std::move(value);
        } else if (name == "id") {
            id = std::move(value);
        }
    }
    if (!token || !id || id->empty()) {
        return std::nullopt;
    }
    return KeyLink{std::string(token->begin(), token->end()), std::move(*id)};
}

}  // namespace Orvel::Pkcs11
