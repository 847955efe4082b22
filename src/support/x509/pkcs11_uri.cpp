#include "carvix/support/pkcs11_uri.h"

#include "carvix/support/pkcs11_token.h"

#include <p11-kit/uri.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace Orvel::Pkcs11 {
namespace {

struct UriFree {
    void operator()(P11KitUri* uri) const noexcept { p11_kit_uri_free(uri); }
};
using Uri = std::unique_ptr<P11KitUri, UriFree>;

// A parsed `pkcs11:` URI, or none when p11-kit refuses it or finds a path attribute it does
// not know: such an attribute may narrow what the writer meant, and ignoring it could pick
// another token or key than the one meant.
Uri Parse(std::string_view text) {
    constexpr std::string_view kScheme = "pkcs11:";
    if (text.substr(0, kScheme.size()) != kScheme || text.find('\0') != std::string_view::npos) {
        return nullptr;
    }
    Uri uri(p11_kit_uri_new());
    const std::string copy(text);
    if (uri == nullptr ||
        p11_kit_uri_parse(copy.c_str(), P11_KIT_URI_FOR_ANY, uri.get()) != P11_KIT_URI_OK ||
        p11_kit_uri_any_unrecognized(uri.get()) != 0) {
        return nullptr;
    }
    return uri;
}

// Fills a blank-padded token field; text longer than the field is cut (token labels and
// serial numbers come from such fields).
template <std::size_t N>
void Fill(CK_UTF8CHAR (&field)[N], const std::string& text) {
    std::memset(field, ' ', N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

bool MatchesAll(P11KitUri* uri, const CK_TOKEN_INFO& token, const CK_SLOT_INFO* slot,
                const CK_INFO* module, std::optional<CK_SLOT_ID> slotId) {
    const CK_SLOT_ID wanted = p11_kit_uri_get_slot_id(uri);
    if (wanted != static_cast<CK_SLOT_ID>(-1) && (!slotId || *slotId != wanted)) {
        return false;
    }
    return p11_kit_uri_match_token_info(uri, &token) == 1 &&
           (slot == nullptr || p11_kit_uri_match_slot_info(uri, slot) == 1) &&
           (module == nullptr || p11_kit_uri_match_module_info(uri, module) == 1);
}

}  // namespace

std::string FormatKeyLink(const KeyLink& link) {
    Uri uri(p11_kit_uri_new());
    if (uri == nullptr) {
        throw std::bad_alloc();
    }
    CK_TOKEN_INFO* token = p11_kit_uri_get_token_info(uri.get());
    Fill(token->label, link.token);
    if (!link.serial.empty()) {
        Fill(token->serialNumber, link.serial);
    }
    ByteArray id = link.id;
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE idAttribute{CKA_ID, id.data(), id.size()};
    CK_ATTRIBUTE classAttribute{CKA_CLASS, &keyClass, sizeof keyClass};
    p11_kit_uri_set_attribute(uri.get(), &idAttribute);
    p11_kit_uri_set_attribute(uri.get(), &classAttribute);
    if (!link.modulePath.empty()) {
        p11_kit_uri_set_module_path(uri.get(), link.modulePath.c_str());
    } else if (!link.moduleName.empty()) {
        p11_kit_uri_set_module_name(uri.get(), link.moduleName.c_str());
    }
    char* text = nullptr;
    if (p11_kit_uri_format(uri.get(), P11_KIT_URI_FOR_ANY, &text) != P11_KIT_URI_OK ||
        text == nullptr) {
        throw std::bad_alloc();
    }
    std::string out = text;
    std::free(text);
    return out;
}

std::optional<KeyLink> ParseKeyLink(std::string_view text) {
    Uri uri = Parse(text);
    if (uri == nullptr) {
        return std::nullopt;
    }
    KeyLink link;
    const CK_TOKEN_INFO* token = p11_kit_uri_get_token_info(uri.get());
    link.token = Trimmed(token->label, sizeof token->label);
    link.serial = Trimmed(token->serialNumber, sizeof token->serialNumber);
    const CK_ATTRIBUTE* id = p11_kit_uri_get_attribute(uri.get(), CKA_ID);
    const CK_ATTRIBUTE* keyClass = p11_kit_uri_get_attribute(uri.get(), CKA_CLASS);
    // Token fields are blank-padded text: a NUL inside one is no label we could match or write.
    if (link.token.empty() || link.token.find('\0') != std::string::npos ||
        link.serial.find('\0') != std::string::npos || id == nullptr || id->ulValueLen == 0 ||
        id->ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return std::nullopt;
    }
    if (keyClass != nullptr &&
        (keyClass->ulValueLen != sizeof(CK_OBJECT_CLASS) ||
         *static_cast<const CK_OBJECT_CLASS*>(keyClass->pValue) != CKO_PRIVATE_KEY)) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(id->pValue);
    link.id.assign(bytes, bytes + id->ulValueLen);
    if (const char* path = p11_kit_uri_get_module_path(uri.get())) {
        link.modulePath = path;
    }
    if (const char* name = p11_kit_uri_get_module_name(uri.get())) {
        link.moduleName = name;
    }
    link.uri = std::string(text);
    return link;
}

bool LinkMatches(const KeyLink& link, const CK_TOKEN_INFO& token, const CK_SLOT_INFO* slot,
                 const CK_INFO* module, std::optional<CK_SLOT_ID> slotId) {
    if (!link.uri.empty()) {
        Uri uri = Parse(link.uri);
        return uri != nullptr && MatchesAll(uri.get(), token, slot, module, slotId);
    }
    return Trimmed(token.label, sizeof token.label) == link.token &&
           (link.serial.empty() ||
            Trimmed(token.serialNumber, sizeof token.serialNumber) == link.serial);
}

bool LinkMatchesObjectLabel(const KeyLink& link, const ByteArray& label) {
    if (link.uri.empty()) {
        return true;
    }
    Uri uri = Parse(link.uri);
    if (uri == nullptr) {
        return false;
    }
    const CK_ATTRIBUTE* wanted = p11_kit_uri_get_attribute(uri.get(), CKA_LABEL);
    if (wanted == nullptr) {
        return true;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(wanted->pValue);
    return ByteArray(bytes, bytes + wanted->ulValueLen) == label;
}

std::optional<bool> UriMatchesToken(std::string_view text, const CK_TOKEN_INFO& token,
                                    const CK_SLOT_INFO* slot, const CK_INFO* module,
                                    std::optional<CK_SLOT_ID> slotId) {
    Uri uri = Parse(text);
    if (uri == nullptr) {
        return std::nullopt;
    }
    return MatchesAll(uri.get(), token, slot, module, slotId);
}

UriModule ModuleOfUri(std::string_view text) {
    UriModule module;
    if (Uri uri = Parse(text)) {
        if (const char* path = p11_kit_uri_get_module_path(uri.get())) {
            module.path = path;
        }
        if (const char* name = p11_kit_uri_get_module_name(uri.get())) {
            module.name = name;
        }
    }
    return module;
}

}  // namespace Orvel::Pkcs11
