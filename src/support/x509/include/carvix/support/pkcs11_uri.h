// The `pkcs11:` key links of token certificates (RFC 7512, the attributes we use).
#pragma once

#include "carvix/support/byte_array.h"

#include <optional>
#include <string>
#include <string_view>

namespace Orvel::Pkcs11 {

/// A private key on a token: the token's label and the key's CKA_ID.
struct KeyLink {
    std::string token;
    ByteArray id;
};

/// "pkcs11:token=LABEL;id=%01%02...;type=private", every byte outside the unreserved set
/// percent-encoded.
std::string FormatKeyLink(const KeyLink& link);

/// The token and id of a `pkcs11:` URI (other attributes and the query are ignored); none
/// when the text is not such a URI or lacks either attribute.
std::optional<KeyLink> ParseKeyLink(std::string_view uri);

}  // namespace Orvel::Pkcs11
