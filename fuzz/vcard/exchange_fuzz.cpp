// Feeds arbitrary command sequences to the card core (both protocols): it must answer every
// one with a status word and never crash. Input: repeated [length byte][command bytes].
#include <cstddef>
#include <cstdint>

#include "transport.h"

namespace {

carvix::vcard::CardImage MakeImage(carvix::vcard::Protocol p) {
    using namespace carvix::vcard;
    CardImage img;
    img.atr = {0x3B, 0x00};
    img.protocol = p;
    Application a;
    a.aid = {0xA0, 0x00, 0x00, 0x00, 0x01};
    a.files[0x0101] = ElementaryFile{0x0101, 300, {1, 2, 3}};
    a.files[0x0000] = ElementaryFile{0x0000, 0, {}};
    a.roles[1] = Role{1, Bytes(16, 0x11), {0x0101}};
    img.applications = {a};
    return img;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace carvix::vcard;
    for (Protocol p : {Protocol::T0, Protocol::T1}) {
        CardImage img = MakeImage(p);
        Applet applet(img, [] {});
        Transport transport(applet, p);
        transport.SetT1GetResponse(size > 0 && (data[0] & 1));
        std::size_t pos = 0;
        while (pos < size) {
            const std::size_t n = data[pos++];
            const std::size_t take = n < size - pos ? n : size - pos;
            const auto out = transport.Exchange({data + pos, take});
            if (!out.dropLink && out.response.size() < 2) {
                __builtin_trap();
            }
            pos += take;
        }
    }
    return 0;
}
