// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the Windows bitmap decoder. Properties: malformed or truncated files give null;
// anything decoded has a sane size, every pixel is readable and none carries a top byte.
#include "fuzz_input.h"
#include "platform/raster.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    platform::Bitmap* bitmap = platform::decodeBmp(data, size);
    if (!bitmap) return 0;
    const int32_t width = platform::bitmapWidth(bitmap);
    const int32_t height = platform::bitmapHeight(bitmap);
    FUZZ_CHECK(width > 0 && height > 0);
    int32_t stride = 0;
    if (const uint32_t* pixels = platform::bitmapPixels(bitmap, &stride)) {
        FUZZ_CHECK(stride >= width);
        // Colour pixels are 0x00RRGGBB: nothing may land in the top byte.
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                FUZZ_CHECK((pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) +
                                   static_cast<std::size_t>(x)] &
                            0xFF000000u) == 0);
    }
    platform::deleteBitmap(bitmap);
    return 0;
}
