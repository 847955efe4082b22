// The drawn portrait must be a JPEG a decoder accepts: the marker segments in order with
// their lengths right, the frame of the asked size, and scan data free of bare markers.
#include "jpeg_image.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using carvix::perso::PortraitJpeg;

struct Segment {
    std::uint8_t marker;
    std::size_t start;   // first byte of the body
    std::size_t length;  // of the body
};

// The segments up to the start of scan, and where the scan data begins.
std::vector<Segment> Segments(const std::vector<std::uint8_t>& jpeg, std::size_t& scanData) {
    std::vector<Segment> out;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        EXPECT_EQ(jpeg[at], 0xFF) << "at " << at;
        const std::uint8_t marker = jpeg[at + 1];
        const std::size_t length = (jpeg[at + 2] << 8 | jpeg[at + 3]) - 2u;
        out.push_back({marker, at + 4, length});
        at += 4 + length;
        if (marker == 0xDA) {
            break;
        }
    }
    scanData = at;
    return out;
}

TEST(PortraitJpeg, IsABaselineGreyJpegOfTheAskedSize) {
    const auto jpeg = PortraitJpeg(240, 320);
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);

    std::size_t scanData = 0;
    const auto segments = Segments(jpeg, scanData);
    std::vector<std::uint8_t> markers;
    for (const auto& s : segments) {
        markers.push_back(s.marker);
    }
    EXPECT_EQ(markers, (std::vector<std::uint8_t>{0xE0, 0xDB, 0xC0, 0xC4, 0xC4, 0xDA}));
    const Segment& frame = segments[2];
    EXPECT_EQ(jpeg[frame.start], 8);                                     // bits per sample
    EXPECT_EQ(jpeg[frame.start + 1] << 8 | jpeg[frame.start + 2], 320);  // height
    EXPECT_EQ(jpeg[frame.start + 3] << 8 | jpeg[frame.start + 4], 240);  // width
    // Each Huffman table's code counts add up to the symbols it lists.
    for (const Segment* table : {&segments[3], &segments[4]}) {
        std::size_t symbols = 0;
        for (int i = 1; i <= 16; ++i) {
            symbols += jpeg[table->start + i];
        }
        EXPECT_EQ(table->length, 17 + symbols);
    }
    // In the scan data a 0xFF is always stuffed with 0x00, up to the end marker.
    for (std::size_t i = scanData; i + 2 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF) {
            EXPECT_EQ(jpeg[i + 1], 0x00) << "bare marker at " << i;
            ++i;
        }
    }
}

TEST(PortraitJpeg, DifferentSizesGiveDifferentPicturesAndBadSizesAreRefused) {
    EXPECT_NE(PortraitJpeg(8, 8), PortraitJpeg(16, 16));
    EXPECT_EQ(PortraitJpeg(96, 128), PortraitJpeg(96, 128));
    EXPECT_THROW(PortraitJpeg(0, 8), std::invalid_argument);
    EXPECT_THROW(PortraitJpeg(12, 8), std::invalid_argument);
    EXPECT_THROW(PortraitJpeg(8, 4096), std::invalid_argument);
}

}  // namespace
