// A small real photograph for sample cards: a baseline greyscale JPEG of a drawn portrait
// (a head and shoulders over a shaded background), made without an image library.
#pragma once

#include <cstdint>
#include <vector>

namespace carvix::perso {

/// A baseline JPEG (JFIF, one grey component) of `width` x `height` pixels, both multiples
/// of 8 from 8 to 2048. Every 8x8 block is one flat shade (only its DC coefficient is
/// coded), which any decoder reads. Throws std::invalid_argument for another size.
std::vector<std::uint8_t> PortraitJpeg(int width, int height);

}  // namespace carvix::perso
