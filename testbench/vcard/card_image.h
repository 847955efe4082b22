// The card's content: ATR, applications with their elementary files and roles.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "apdu.h"

namespace carvix::vcard {

enum class Protocol { T0, T1 };

// A transparent elementary file. `size` is the allocated size that SELECT reports and that
// bounds READ BINARY and UPDATE BINARY; `data` holds the bytes written so far (the rest of
// the file reads as zero bytes).
struct ElementaryFile {
    std::uint16_t id = 0;
    std::uint16_t size = 0;
    Bytes data;
};

// A role the host obtains by EXTERNAL AUTHENTICATE; it may update the files it lists.
struct Role {
    std::uint8_t id = 0;  // 0..127, sent in P2 as 0x80 | id
    Bytes key;            // AES key, 16, 24 or 32 bytes
    std::set<std::uint16_t> updatable;
};

struct Application {
    Bytes aid;
    std::string label;
    std::map<std::uint16_t, ElementaryFile> files;
    std::map<std::uint8_t, Role> roles;
};

// The contactless part of a card (contactless mode): two numbered files guarded by a read key
// and a write key, and the serial number of the contactless chip.
struct ContactlessPart {
    static constexpr std::size_t kFileCapacity = 1024;  // each file holds at most this much
    std::string serial;                                 // ASCII, at most 16 characters
    Bytes readKey;                                      // 16 bytes
    Bytes writeKey;                                     // 1 to 64 bytes
    Bytes files[2];                                     // file 1 and file 2
};

struct CardImage {
    Bytes atr;
    Protocol protocol = Protocol::T0;
    std::vector<Application> applications;
    std::optional<ContactlessPart> contactless;
};

}  // namespace carvix::vcard
