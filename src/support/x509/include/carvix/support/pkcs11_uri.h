// The `pkcs11:` key links of token certificates, read, written and matched by p11-kit's URI
// functions (RFC 7512).
#pragma once

#include "carvix/support/byte_array.h"

#include <p11-kit/pkcs11.h>

#include <optional>
#include <string>
#include <string_view>

namespace Orvel::Pkcs11 {

/// A private key on a token: the token by label (and serial number when known), the key by
/// CKA_ID, and the module that serves the token, by file (`module-path`) or by the name p11-kit
/// registered it under (`module-name`). Only that module is loaded when the key is used; a
/// link that names no module (written before links named one) has its token looked up in
/// every registered module.
struct KeyLink {
    std::string token;
    ByteArray id;
    std::string serial;      // empty: any token with the label
    std::string modulePath;  // empty: see moduleName
    std::string moduleName;  // empty with modulePath: every registered module
    /// The text the link was read from, when it was read: the token, slot, module and object
    /// attributes it names beyond the fields above (manufacturer, model, object label...)
    /// must match too.
    std::string uri;
};

/// "pkcs11:serial=SERIAL;token=LABEL;id=%01%02...;type=private?module-path=PATH" as p11-kit
/// writes it; serial and module only when known.
std::string FormatKeyLink(const KeyLink& link);

/// The token, serial, id and module of a `pkcs11:` URI; none when the text is not such a
/// URI, lacks the token or the id, names an object that is not a private key, or has a path
/// attribute p11-kit does not understand (a link that asks for more than we can check is
/// refused rather than taken loosely).
std::optional<KeyLink> ParseKeyLink(std::string_view uri);

/// Whether a token matches what a link names: every token attribute of the link's URI (or
/// the label and serial of a link built in code), and the slot and module attributes when the
/// slot and module information is given.
/// A `slot-id` in the URI must equal `slotId` (and is refused when `slotId` is not given).
bool LinkMatches(const KeyLink& link, const CK_TOKEN_INFO& token,
                 const CK_SLOT_INFO* slot = nullptr, const CK_INFO* module = nullptr,
                 std::optional<CK_SLOT_ID> slotId = {});

/// Whether an object's CKA_LABEL matches the link's `object=` attribute (true when it has none).
bool LinkMatchesObjectLabel(const KeyLink& link, const ByteArray& label);

/// Whether a token matches a `pkcs11:` URI that names a token (as a reader name may):
/// none when the text is not such a URI or has attributes p11-kit does not understand.
std::optional<bool> UriMatchesToken(std::string_view uri, const CK_TOKEN_INFO& token,
                                    const CK_SLOT_INFO* slot = nullptr,
                                    const CK_INFO* module = nullptr,
                                    std::optional<CK_SLOT_ID> slotId = {});

/// The module a token URI names (`module-path`, else `module-name`); both empty when none.
struct UriModule {
    std::string path;
    std::string name;
};
UriModule ModuleOfUri(std::string_view uri);

}  // namespace Orvel::Pkcs11
