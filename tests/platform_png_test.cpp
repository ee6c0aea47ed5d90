// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the PNG encoder that the GDI raster writes pictures with: what it writes must read back
// pixel for pixel in another decoder (cairo's, here on Linux), also when the picture needs more
// than one stored deflate block, and sizes that do not match the pixels give no file.
#include "platform/png_encode.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The picture as cairo decodes it, 0x00RRGGBB per pixel.
std::vector<uint32_t> decode(const std::vector<uint8_t>& file, int* width, int* height) {
    const std::string path = "png_test_" + std::to_string(getpid()) + ".png";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    std::remove(path.c_str());
    std::vector<uint32_t> out;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        *width = cairo_image_surface_get_width(s);
        *height = cairo_image_surface_get_height(s);
        const int stride = cairo_image_surface_get_stride(s) / 4;
        const auto* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s));
        for (int y = 0; y < *height; ++y)
            for (int x = 0; x < *width; ++x) out.push_back(px[y * stride + x] & 0xFFFFFF);
    }
    cairo_surface_destroy(s);
    return out;
}

void roundTrip(int32_t width, int32_t height) {
    std::vector<uint8_t> rgb;
    std::vector<uint32_t> want;
    for (int32_t i = 0; i < width * height; ++i) {
        const uint8_t r = static_cast<uint8_t>(i * 7), g = static_cast<uint8_t>(i >> 3),
                      b = static_cast<uint8_t>(255 - i);
        rgb.insert(rgb.end(), {r, g, b});
        want.push_back(uint32_t(r) << 16 | uint32_t(g) << 8 | b);
    }
    int w = 0, h = 0;
    const std::vector<uint32_t> got = decode(platform::png::encodeRgb(width, height, rgb), &w, &h);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_EQ(got, want);
}

TEST(PngEncoder, SmallAndMultiBlockPicturesReadBackExactly) {
    roundTrip(3, 2);
    roundTrip(1, 1);
    roundTrip(200, 150);  // 90,150 bytes of scanlines: two stored blocks
}

TEST(PngEncoder, SizesThatDoNotMatchThePixelsGiveNothing) {
    EXPECT_TRUE(platform::png::encodeRgb(2, 2, std::vector<uint8_t>(11)).empty());
    EXPECT_TRUE(platform::png::encodeRgb(0, 2, {}).empty());
    EXPECT_TRUE(platform::png::encodeRgb(-1, -1, {}).empty());
}

}  // namespace
