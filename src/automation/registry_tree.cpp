// Keys of a hive and the hive's text form.
#include "carvix/automation/registry.h"
#include "carvix/support/unicode.h"

namespace carvix::automation::registry {
namespace {

char16_t Fold(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

// Splits off the first path component.
std::u16string_view Head(std::u16string_view path, std::u16string_view& rest) {
    const auto slash = path.find(u'\\');
    rest = slash == std::u16string_view::npos ? std::u16string_view{} : path.substr(slash + 1);
    return path.substr(0, slash);
}

void Quote(std::string& out, std::u16string_view text) {
    out += '"';
    for (char c : Orvel::Utf16ToUtf8(text)) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

// Reads a quoted string at text[pos] (which must be '"'); pos moves past it.
std::optional<std::u16string> Unquote(std::string_view text, std::size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') {
        return std::nullopt;
    }
    std::string raw;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return Orvel::Utf8ToUtf16(raw);
        }
        if (c == '\\') {
            if (++pos >= text.size()) {
                return std::nullopt;
            }
            c = text[pos];
            raw += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        } else {
            raw += c;
        }
    }
    return std::nullopt;
}

void Write(std::string& out, const Key& key, const std::u16string& path) {
    if (!path.empty()) {
        out += '[' + Orvel::Utf16ToUtf8(path) + "]\n";
        for (const auto& [name, value] : key.values) {
            if (name.empty()) {
                out += '@';
            } else {
                Quote(out, name);
            }
            out += '=';
            Quote(out, value);
            out += '\n';
        }
    }
    for (const auto& [name, sub] : key.subkeys) {
        Write(out, sub, path.empty() ? name : path + u'\\' + name);
    }
}

}  // namespace

bool NameLess::operator()(std::u16string_view a, std::u16string_view b) const noexcept {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) {
            return x < y;
        }
    }
    return a.size() < b.size();
}

const Key* Key::Find(std::u16string_view path) const {
    const Key* key = this;
    while (key != nullptr && !path.empty()) {
        std::u16string_view rest;
        const std::u16string_view name = Head(path, rest);
        path = rest;
        if (name.empty()) {
            continue;  // "a\\b" and a trailing '\' name the same key as "a\b"
        }
        auto it = key->subkeys.find(name);
        key = it == key->subkeys.end() ? nullptr : &it->second;
    }
    return key;
}

Key* Key::Find(std::u16string_view path) {
    return const_cast<Key*>(static_cast<const Key*>(this)->Find(path));
}

Key& Key::Create(std::u16string_view path) {
    Key* key = this;
    while (!path.empty()) {
        std::u16string_view rest;
        const std::u16string_view name = Head(path, rest);
        path = rest;
        if (name.empty()) {
            continue;
        }
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) {
            it = key->subkeys.emplace(std::u16string(name), Key{}).first;
        }
        key = &it->second;
    }
    return *key;
}

bool Key::Remove(std::u16string_view path) {
    const auto slash = path.rfind(u'\\');
    Key* parent = slash == std::u16string_view::npos ? this : Find(path.substr(0, slash));
    const std::u16string_view name =
        slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    if (parent == nullptr || name.empty()) {
        return false;
    }
    auto it = parent->subkeys.find(name);
    if (it == parent->subkeys.end()) {
        return false;
    }
    parent->subkeys.erase(it);
    return true;
}

std::optional<std::u16string> Key::Value(std::u16string_view path, std::u16string_view name) const {
    const Key* key = Find(path);
    if (key == nullptr) {
        return std::nullopt;
    }
    auto it = key->values.find(name);
    if (it == key->values.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::string Serialize(const Key& root) {
    std::string out = "carvix-registry 1\n";
    Write(out, root, {});
    return out;
}

std::optional<Key> Parse(std::string_view text) {
    Key root;
    Key* current = nullptr;
    bool header = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!header) {
            if (line != "carvix-registry 1") {
                return std::nullopt;
            }
            header = true;
            continue;
        }
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[' && line.back() == ']' && line.size() > 2) {
            current = &root.Create(Orvel::Utf8ToUtf16(line.substr(1, line.size() - 2)));
            continue;
        }
        if (current == nullptr) {
            continue;  // a value outside any key
        }
        std::size_t at = 0;
        std::optional<std::u16string> name;
        if (line[0] == '@') {
            name = std::u16string{};
            at = 1;
        } else {
            name = Unquote(line, at);
        }
        if (!name || at >= line.size() || line[at] != '=') {
            continue;
        }
        ++at;
        auto value = Unquote(line, at);
        if (value && at == line.size()) {
            current->values[*name] = *value;
        }
    }
    if (!header) {
        return text.empty() ? std::optional<Key>(Key{}) : std::nullopt;
    }
    return root;
}

}  // namespace carvix::automation::registry
