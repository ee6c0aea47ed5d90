// SPDX-License-Identifier: GPL-3.0-or-later
// The GDI raster's bitmap files: Windows bitmaps decoded (their layout proved by bmp_layout, the
// pixels converted by GDI) and bitmaps written as PNG (png_encode).
#include "bmp_layout.h"
#include "png_encode.h"
#include "win32_internal.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {

namespace {
constexpr uint32_t kRgbMask = 0x00FFFFFFu;
}  // namespace

Bitmap* decodeBmp(const uint8_t* data, std::size_t size) {
    // Every size and offset is checked here; GDI then converts the validated pixels.
    bmp::Layout l;
    if (!bmp::parse(data, size, kMaxBitmapSide, &l)) return nullptr;
    const int64_t width = l.width, height = l.height;

    // A fresh header in the classic layout, followed by the palette (as RGBQUADs) or the masks.
    std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biWidth = static_cast<LONG>(width);
    h->biHeight = static_cast<LONG>(l.topDown ? -height : height);
    h->biPlanes = 1;
    h->biBitCount = static_cast<WORD>(l.bpp);
    h->biCompression = l.bitfields ? BI_BITFIELDS : BI_RGB;
    h->biClrUsed = static_cast<DWORD>(l.paletteCount);
    auto* table = reinterpret_cast<RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER));
    for (std::size_t i = 0; i < l.paletteCount; ++i) {
        const uint8_t* e = data + l.paletteStart + i * l.paletteEntrySize;
        table[i] = RGBQUAD{e[0], e[1], e[2], 0};
    }
    if (l.bitfields) std::memcpy(table, data + l.masksOffset, 12);
    Bitmap* b = newDibSection(static_cast<int32_t>(width), static_cast<int32_t>(height));
    if (!b) return nullptr;
    HDC screen = GetDC(nullptr);
    const int lines =
        SetDIBits(screen, b->handle, 0, static_cast<UINT>(height), data + l.pixelOffset,
                  reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (lines != height) {
        deleteBitmap(b);
        return nullptr;
    }
    GdiFlush();
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i)
        b->bits[i] &= kRgbMask;
    return b;
}

bool writePng(Bitmap* bitmap, const char* path) {
    if (!bitmap || !path) return false;
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<std::size_t>(bitmap->width) * 3 * bitmap->height);
    int32_t stride = 0;
    if (const uint32_t* px = bitmapPixels(bitmap, &stride)) {
        // A colour bitmap is read in place, whichever context holds it.
        for (int32_t y = 0; y < bitmap->height; ++y) {
            for (int32_t x = 0; x < bitmap->width; ++x) {
                const uint32_t v = px[static_cast<std::size_t>(y) * stride + x];
                rgb.push_back(static_cast<uint8_t>(v >> 16));
                rgb.push_back(static_cast<uint8_t>(v >> 8));
                rgb.push_back(static_cast<uint8_t>(v));
            }
        }
    } else {
        // A monochrome one through a context of its own, for GDI's conversion to colour; one
        // that another context holds cannot be read this way.
        Context* c = createContext(nullptr);
        if (!c) return false;
        Bitmap* old = selectBitmap(c, bitmap);
        if (!old) {
            deleteContext(c);
            return false;
        }
        for (int32_t y = 0; y < bitmap->height; ++y) {
            for (int32_t x = 0; x < bitmap->width; ++x) {
                const Color p = getPixel(c, {x, y});
                rgb.push_back(static_cast<uint8_t>(p));
                rgb.push_back(static_cast<uint8_t>(p >> 8));
                rgb.push_back(static_cast<uint8_t>(p >> 16));
            }
        }
        selectBitmap(c, old);
        deleteContext(c);
    }
    const std::vector<uint8_t> file = png::encodeRgb(bitmap->width, bitmap->height, rgb);
    if (file.empty()) return false;
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace platform
