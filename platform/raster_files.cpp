// SPDX-License-Identifier: GPL-3.0-or-later
// The raster's bitmap files: Windows bitmaps decoded (from memory or the module's resources) and
// colour bitmaps written as PNG (through cairo's encoder).
#include "bmp_layout.h"
#include "raster_pixels.h"
#include "resource.h"

#include <cairo.h>

namespace platform {

using namespace pixels;
using bmp::le32;

Bitmap* decodeBmp(const uint8_t* data, std::size_t size) {
    bmp::Layout l;
    if (!bmp::parse(data, size, kMaxBitmapSide, &l)) return nullptr;
    const int64_t width = l.width, height = l.height;
    const uint32_t bpp = l.bpp;
    Bitmap* b = createBitmap(static_cast<int32_t>(width), static_cast<int32_t>(height));
    if (!b) return nullptr;
    auto paletteColor = [&](std::size_t index) -> uint32_t {
        if (index >= l.paletteCount) return 0;
        const uint8_t* e = data + l.paletteStart + index * l.paletteEntrySize;
        return uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    };
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* src = data + l.pixelOffset + l.rowBytes * static_cast<std::size_t>(row);
        const int64_t y = l.topDown ? row : height - 1 - row;
        uint32_t* dst = b->pixels + static_cast<std::size_t>(y) * b->stride;
        for (int64_t x = 0; x < width; ++x) {
            switch (bpp) {
            case 32: dst[x] = le32(src + x * 4) & kRgbMask; break;
            case 24:
                dst[x] =
                    uint32_t(src[x * 3 + 2]) << 16 | uint32_t(src[x * 3 + 1]) << 8 | src[x * 3];
                break;
            case 8: dst[x] = paletteColor(src[x]); break;
            case 4: dst[x] = paletteColor((src[x / 2] >> ((x & 1) ? 0 : 4)) & 0xF); break;
            default: dst[x] = paletteColor((src[x / 8] >> (7 - (x & 7))) & 1); break;
            }
        }
    }
    return b;
}

Bitmap* loadBitmapResource(void* module, int32_t id) {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!findResource(module, kResourceBitmap, id, &data, &size)) return nullptr;
    return decodeBmp(data, size);
}

bool writePng(Bitmap* bitmap, const char* path) {
    if (!bitmap || !path) return false;
    cairo_surface_t* s =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, bitmap->width, bitmap->height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return false;
    }
    cairo_surface_flush(s);
    auto* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    const int32_t outStride = cairo_image_surface_get_stride(s) / 4;
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < bitmap->width; ++x)
            out[static_cast<size_t>(y) * outStride + x] = readPixel(bitmap, x, y);
    cairo_surface_mark_dirty(s);
    const bool ok = cairo_surface_write_to_png(s, path) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

}  // namespace platform
