// SPDX-License-Identifier: GPL-3.0-or-later
// PNG files for pictures of bitmaps, where no system encoder is at hand (the GDI raster): 8-bit
// RGB in stored (uncompressed) deflate blocks, pictures for people and tests, not for size. Pure
// functions of their arguments: any thread.
#pragma once

#include <cstdint>
#include <vector>

namespace platform::png {

// The whole file for width x height pixels given as rows of red, green and blue bytes, top row
// first (rgb holds width * 3 * height bytes). Empty when the sizes do not fit rgb.
std::vector<uint8_t> encodeRgb(int32_t width, int32_t height, const std::vector<uint8_t>& rgb);

}  // namespace platform::png
