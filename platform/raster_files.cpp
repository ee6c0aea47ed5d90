// The raster's bitmap files: Windows bitmaps decoded (from memory or the module's resources) and
// colour bitmaps written as PNG (through cairo's encoder).
#include "raster_pixels.h"
#include "resource.h"

#include <cairo.h>

namespace platform {

using namespace pixels;

namespace {
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
}  // namespace

Bitmap* decodeBmp(const uint8_t* data, std::size_t size) {
    if (!data || size < 16) return nullptr;
    std::size_t base = 0;  // start of the info header
    std::size_t pixelOffset = 0;
    if (data[0] == 'B' && data[1] == 'M') {
        base = 14;
        pixelOffset = le32(data + 10);
    }
    if (size < base + 12) return nullptr;
    const uint32_t headerSize = le32(data + base);
    if (headerSize < 12 || headerSize > size - base) return nullptr;
    int64_t width = 0, height = 0;
    uint32_t bpp = 0, compression = 0, colorsUsed = 0;
    uint32_t paletteEntrySize = 4;
    if (headerSize == 12) {
        width = le16(data + base + 4);
        height = static_cast<int16_t>(le16(data + base + 6));
        bpp = le16(data + base + 10);
        paletteEntrySize = 3;
    } else {
        if (headerSize < 40) return nullptr;
        width = static_cast<int32_t>(le32(data + base + 4));
        height = static_cast<int32_t>(le32(data + base + 8));
        bpp = le16(data + base + 14);
        compression = le32(data + base + 16);
        colorsUsed = le32(data + base + 32);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide)
        return nullptr;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return nullptr;
    // Uncompressed only; 32-bit bitfields are accepted in their usual order.
    if (compression != 0 && !(compression == 3 && bpp == 32)) return nullptr;
    std::size_t paletteCount = 0;
    if (bpp <= 8) {
        paletteCount = colorsUsed ? colorsUsed : (1u << bpp);
        if (paletteCount > (1u << bpp)) return nullptr;
    }
    std::size_t paletteStart = base + headerSize;
    if (compression == 3 && headerSize == 40) paletteStart += 12;  // the three masks
    const std::size_t paletteBytes = paletteCount * paletteEntrySize;
    if (paletteStart > size || paletteBytes > size - paletteStart) return nullptr;
    if (pixelOffset == 0) pixelOffset = paletteStart + paletteBytes;
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
    if (pixelOffset > size || rowBytes * static_cast<std::size_t>(height) > size - pixelOffset)
        return nullptr;

    Bitmap* b = createBitmap(static_cast<int32_t>(width), static_cast<int32_t>(height));
    if (!b) return nullptr;
    auto paletteColor = [&](std::size_t index) -> uint32_t {
        if (index >= paletteCount) return 0;
        const uint8_t* e = data + paletteStart + index * paletteEntrySize;
        return uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    };
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* src = data + pixelOffset + rowBytes * static_cast<std::size_t>(row);
        const int64_t y = topDown ? row : height - 1 - row;
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
