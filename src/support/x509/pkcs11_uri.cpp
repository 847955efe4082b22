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

void Append(std::string& uri, std::string_view text) {
    Encode(uri, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Reads "name=value" items separated by `separator`, decoding each value; false when a value
// is not well encoded.
template <typename Take>
bool ReadItems(std::string_view items, char separator, Take take) {
    while (!items.empty()) {
        const std::size_t end = items.find(separator);
        const std::string_view item = items.substr(0, end);
        items = end == std::string_view::npos ? std::string_view{} : items.substr(end + 1);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        auto value = Decode(item.substr(equals + 1));
        if (!value) {
            return false;
        }
        take(item.substr(0, equals), std::move(*value));
    }
    return true;
}

std::string Text(const ByteArray& bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace

std::string FormatKeyLink(const KeyLink& link) {
    std::string uri = "pkcs11:token=";
    Append(uri, link.token);
    if (!link.serial.empty()) {
        uri += ";serial=";
        Append(uri, link.serial);
    }
    uri += ";id=";
    Encode(uri, link.id.data(), link.id.size());
    uri += ";type=private";
    if (!link.modulePath.empty()) {
        uri += "?module-path=";
        Append(uri, link.modulePath);
    } else if (!link.moduleName.empty()) {
        uri += "?module-name=";
        Append(uri, link.moduleName);
    }
    return uri;
}

std::optional<KeyLink> ParseKeyLink(std::string_view uri) {
    constexpr std::string_view kScheme = "pkcs11:";
    if (uri.substr(0, kScheme.size()) != kScheme) {
        return std::nullopt;
    }
    const std::string_view rest = uri.substr(kScheme.size());
    const std::size_t question = rest.find('?');
    const std::string_view path = rest.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view{} : rest.substr(question + 1);
    std::optional<ByteArray> token;
    std::optional<ByteArray> id;
    KeyLink link;
    const bool pathRead = ReadItems(path, ';', [&](std::string_view name, ByteArray value) {
        if (name == "token") {
            token = std::move(value);
        } else if (name == "id") {
            id = std::move(value);
        } else if (name == "serial") {
            link.serial = Text(value);
        }
    });
    const bool queryRead = ReadItems(query, '&', [&](std::string_view name, ByteArray value) {
        if (name == "module-path") {
            link.modulePath = Text(value);
        } else if (name == "module-name") {
            link.moduleName = Text(value);
        }
    });
    if (!pathRead || !queryRead || !token || !id || id->empty()) {
        return std::nullopt;
    }
    link.token = Text(*token);
    link.id = std::move(*id);
    return link;
}

}  // namespace Orvel::Pkcs11
