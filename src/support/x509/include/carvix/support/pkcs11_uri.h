// The `pkcs11:` key links of token certificates (RFC 7512, the attributes we use).
#pragma once

#include "carvix/support/byte_array.h"

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
};

/// "pkcs11:token=LABEL;serial=SERIAL;id=%01%02...;type=private?module-path=PATH", every byte
/// outside the unreserved set percent-encoded; serial and module only when known.
std::string FormatKeyLink(const KeyLink& link);

/// The token, serial, id and module of a `pkcs11:` URI (other attributes are ignored); none
/// when the text is not such a URI or lacks the token or the id.
std::optional<KeyLink> ParseKeyLink(std::string_view uri);

}  // namespace Orvel::Pkcs11
