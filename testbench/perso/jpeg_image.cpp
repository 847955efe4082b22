#include "jpeg_image.h"

#include <cstdlib>
#include <stdexcept>

namespace carvix::perso {
namespace {

// The DC quantiser: a block's coefficient becomes its mean shade minus 128.
constexpr int kDcQuant = 8;

// The usual luminance DC table: code lengths per size category 0..11.
constexpr std::uint8_t kDcCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint16_t kDcCodes[12] = {0x0, 0x2,  0x3,  0x4,  0x5,  0x6,
                                        0xE, 0x1E, 0x3E, 0x7E, 0xFE, 0x1FE};
constexpr int kDcLengths[12] = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9};

class BitWriter {
  public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void Put(std::uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = static_cast<std::uint8_t>((byte_ << 1) | ((bits >> i) & 1));
            if (++filled_ == 8) {
                Emit();
            }
        }
    }
    // Pads the last byte with one bits, as the format asks.
    void Flush() {
        while (filled_ != 0) {
            Put(1, 1);
        }
    }

  private:
    void Emit() {
        out_.push_back(byte_);
        if (byte_ == 0xFF) {
            out_.push_back(0x00);  // a coded 0xFF is stuffed so it is no marker
        }
        byte_ = 0;
        filled_ = 0;
    }
    std::vector<std::uint8_t>& out_;
    std::uint8_t byte_ = 0;
    int filled_ = 0;
};

void Segment(std::vector<std::uint8_t>& out, std::uint8_t marker,
             const std::vector<std::uint8_t>& body) {
    const std::size_t length = body.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                           static_cast<std::uint8_t>(length & 0xFF)});
    out.insert(out.end(), body.begin(), body.end());
}

// The shade (0..255) of the portrait at the centre of block (bx, by).
int Shade(int bx, int by, int blocksX, int blocksY) {
    const double x = (bx + 0.5) / blocksX - 0.5;  // -0.5 .. 0.5
    const double y = (by + 0.5) / blocksY;        // 0 .. 1
    const double headX = x / 0.22;
    const double headY = (y - 0.38) / 0.26;
    if (headX * headX + headY * headY <= 1.0) {
        return 200 - static_cast<int>(30 * headY);  // the face, lit from above
    }
    if (y > 0.62 && std::abs(x) < 0.18 + (y - 0.62) * 1.2) {
        return 60;  // the shoulders
    }
    return 150 - static_cast<int>(80 * y);  // the background, darker towards the bottom
}

}  // namespace

std::vector<std::uint8_t> PortraitJpeg(int width, int height) {
    if (width < 8 || height < 8 || width > 2048 || height > 2048 || width % 8 != 0 ||
        height % 8 != 0) {
        throw std::invalid_argument("a JPEG portrait is 8 to 2048 pixels each way, in steps of 8");
    }
    std::vector<std::uint8_t> out = {0xFF, 0xD8};
    Segment(out, 0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    std::vector<std::uint8_t> quant = {0x00, kDcQuant};
    quant.resize(65, 1);
    Segment(out, 0xDB, quant);
    Segment(out, 0xC0,
            {8, static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height & 0xFF),
             static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width & 0xFF), 1, 1,
             0x11, 0});
    std::vector<std::uint8_t> dc = {0x00};
    dc.insert(dc.end(), std::begin(kDcCounts), std::end(kDcCounts));
    for (std::uint8_t v = 0; v < 12; ++v) {
        dc.push_back(v);
    }
    Segment(out, 0xC4, dc);
    // The AC table has one code, "0", for end-of-block: every block is flat.
    std::vector<std::uint8_t> ac = {0x10, 1};
    ac.resize(17, 0);
    ac.push_back(0x00);
    Segment(out, 0xC4, ac);
    Segment(out, 0xDA, {1, 1, 0x00, 0, 63, 0});

    BitWriter bits(out);
    const int blocksX = width / 8;
    const int blocksY = height / 8;
    int previous = 0;
    for (int by = 0; by < blocksY; ++by) {
        for (int bx = 0; bx < blocksX; ++bx) {
            const int value = Shade(bx, by, blocksX, blocksY) - 128;
            const int diff = value - previous;
            previous = value;
            int category = 0;
            for (int magnitude = std::abs(diff); magnitude != 0; magnitude >>= 1) {
                ++category;
            }
            bits.Put(kDcCodes[category], kDcLengths[category]);
            if (category > 0) {
                const int extra = diff < 0 ? diff + (1 << category) - 1 : diff;
                bits.Put(static_cast<std::uint32_t>(extra), category);
            }
            bits.Put(0, 1);  // end of block
        }
    }
    bits.Flush();
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

}  // namespace carvix::perso
