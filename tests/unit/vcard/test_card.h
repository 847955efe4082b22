// A small card image for driving the emulator core without a reader.
#pragma once

#include "card_image.h"

namespace carvix::vcard::testing {

inline const Bytes kAidA = {0xA0, 0x00, 0x00, 0x00, 0x01};
inline const Bytes kAidB = {0xA0, 0x00, 0x00, 0x00, 0x02};
inline const Bytes kKey1(16, 0x11);

// Application A: file 0101 (300 bytes allocated, 5 stored), file 0102 (4 bytes),
// role 1 may update 0101. Application B: file 0201, role 1 with the same key.
inline CardImage SmallCard(Protocol protocol) {
    CardImage img;
    img.atr = {0x3B, 0x00};
    img.protocol = protocol;
    Application a;
    a.aid = kAidA;
    a.files[0x0101] = ElementaryFile{0x0101, 300, {1, 2, 3, 4, 5}};
    a.files[0x0102] = ElementaryFile{0x0102, 4, {9, 9, 9, 9}};
    a.roles[1] = Role{1, kKey1, {0x0101}};
    Application b;
    b.aid = kAidB;
    b.files[0x0201] = ElementaryFile{0x0201, 8, {}};
    b.roles[1] = Role{1, kKey1, {0x0201}};
    img.applications = {a, b};
    return img;
}

}  // namespace carvix::vcard::testing
