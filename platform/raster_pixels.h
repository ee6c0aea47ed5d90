// SPDX-License-Identifier: GPL-3.0-or-later
// Internal to the raster's own files: the drawing objects and the pixel-level helpers shared by
// raster_pixels.cpp (everything with exact pixel rules), raster_cairo.cpp (fonts, text, curves and
// wide pens, through cairo) and raster_files.cpp (bitmap files). No cairo type appears here.
#pragma once

#include "raster_internal.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace platform {

struct Pen {
    PenDesc desc;
    bool stock = false;
};
struct Brush {
    Color color = 0;
    bool null = false;
    bool stock = false;
};
struct Font;  // holds cairo objects: raster_cairo.cpp
struct Context {
    Bitmap* bitmap = nullptr;
    Bitmap* stockBitmap = nullptr;  // the 1 x 1 monochrome bitmap a fresh context holds
    Pen* pen = nullptr;
    Brush* brush = nullptr;
    Font* font = nullptr;
    Color textColor = 0;
    Color bkColor = 0xFFFFFF;
    BkMode bkMode = BkMode::opaque;
    Rop2 rop = Rop2::copyPen;
    StretchMode stretch = StretchMode::colorOnColor;
    Point current;
    bool hasClip = false;
    Rect clip;
};
namespace pixels {

inline constexpr uint32_t kRgbMask = 0x00FFFFFFu;

// COLORREF-style colour <-> stored pixel: the two differ only in the order of red and blue.
inline uint32_t toPixel(Color c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline Color fromPixel(uint32_t p) { return toPixel(p & kRgbMask); }

inline uint32_t monoBit(Color c) {
    const uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    return (r * 30 + g * 59 + b * 11) >= 128 * 100 ? 1u : 0u;
}

inline Rect intersect(const Rect& a, const Rect& b) {
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}
inline bool emptyRect(const Rect& r) { return r.left >= r.right || r.top >= r.bottom; }

// Design units to device pixels: coordinates far out saturate instead of wrapping.
inline int32_t scaleOf(const Context* c);
inline int32_t up(int64_t v, int32_t s) {
    return static_cast<int32_t>(std::clamp<int64_t>(v * s, INT32_MIN, INT32_MAX));
}
inline Point up(Point p, int32_t s) { return Point{up(p.x, s), up(p.y, s)}; }
inline Rect up(const Rect& r, int32_t s) {
    return Rect{up(r.left, s), up(r.top, s), up(r.right, s), up(r.bottom, s)};
}
// Device pixels to the design units that cover them (outwards).
inline int32_t downFloor(int32_t v, int32_t s) {
    return static_cast<int32_t>(v >= 0 ? v / s : -((-int64_t(v) + s - 1) / s));
}
inline int32_t downCeil(int32_t v, int32_t s) { return -downFloor(-v, s); }
inline Rect downOut(const Rect& r, int32_t s) {
    return Rect{downFloor(r.left, s), downFloor(r.top, s), downCeil(r.right, s),
                downCeil(r.bottom, s)};
}

inline void addDamage(Bitmap* b, const Rect& r) {
    if (emptyRect(r)) return;
    if (emptyRect(b->damage)) {
        b->damage = r;
        return;
    }
    b->damage.left = std::min(b->damage.left, r.left);
    b->damage.top = std::min(b->damage.top, r.top);
    b->damage.right = std::max(b->damage.right, r.right);
    b->damage.bottom = std::max(b->damage.bottom, r.bottom);
}

// Where drawing may land: the bitmap, narrowed by the clip.
inline Rect drawArea(const Context* c) {
    Rect r{0, 0, c->bitmap->width, c->bitmap->height};
    return c->hasClip ? intersect(r, c->clip) : r;
}

// Reads a pixel as colour (monochrome: black or white). Caller checks bounds.
inline uint32_t readPixel(const Bitmap* b, int32_t x, int32_t y) {
    if (b->mono) return b->bits[static_cast<size_t>(y) * b->width + x] ? kRgbMask : 0;
    return b->pixels[static_cast<size_t>(y) * b->stride + x] & kRgbMask;
}

// Applies the pen's raster operation at one pixel known to be inside drawArea.
inline void plotRop(Context* c, int32_t x, int32_t y, Color color) {
    Bitmap* b = c->bitmap;
    if (b->mono) {
        uint8_t& d = b->bits[static_cast<size_t>(y) * b->width + x];
        const uint8_t p = static_cast<uint8_t>(monoBit(color));
        switch (c->rop) {
        case Rop2::copyPen: d = p; break;
        case Rop2::mergePen: d = d | p; break;
        case Rop2::notXorPen: d = (~(d ^ p)) & 1u; break;
        }
        return;
    }
    uint32_t& d = b->pixels[static_cast<size_t>(y) * b->stride + x];
    const uint32_t p = toPixel(color);
    switch (c->rop) {
    case Rop2::copyPen: d = p; break;
    case Rop2::mergePen: d = (d | p) & kRgbMask; break;
    case Rop2::notXorPen: d = (~(d ^ p)) & kRgbMask; break;
    }
}

inline void storePixel(Bitmap* b, int32_t x, int32_t y, uint32_t rgbPixel) {
    if (b->mono)
        b->bits[static_cast<size_t>(y) * b->width + x] =
            static_cast<uint8_t>(monoBit(fromPixel(rgbPixel)));
    else b->pixels[static_cast<size_t>(y) * b->stride + x] = rgbPixel & kRgbMask;
}

inline bool inside(const Rect& r, int32_t x, int32_t y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

inline bool validContext(const Context* c) { return c && c->bitmap; }
inline int32_t scaleOf(const Context* c) { return c && c->bitmap ? c->bitmap->scale : 1; }

inline bool sizeOk(int32_t w, int32_t h) {
    return w > 0 && h > 0 && w <= kMaxBitmapSide && h <= kMaxBitmapSide;
}

inline bool thinPen(const Pen* p) { return p->desc.width <= 1; }

// Where thin-pen rules step: the drawing area in design units (covering every device pixel of
// it at a larger scale).
inline Rect designArea(const Context* c) {
    const int32_t s = scaleOf(c);
    return s > 1 ? downOut(drawArea(c), s) : drawArea(c);
}

// The dotted pattern: three pixels on, three off. Gaps take the background colour when the
// background mode is opaque. x and y are design units inside designArea(c): at a larger scale
// the pixel is a block of scale × scale device pixels, each clipped to the drawing area.
inline void plotStyled(Context* c, const Rect& area, int32_t x, int32_t y, int64_t step) {
    if (!inside(area, x, y)) return;
    const Pen* p = c->pen;
    Color color = p->desc.color;
    if (p->desc.style == PenStyle::dotted && (step % 6) >= 3) {
        if (c->bkMode != BkMode::opaque) return;
        color = c->bkColor;
    }
    const int32_t s = scaleOf(c);
    if (s == 1) {
        plotRop(c, x, y, color);
        return;
    }
    const Rect device = drawArea(c);
    for (int32_t dy = 0; dy < s; ++dy)
        for (int32_t dx = 0; dx < s; ++dx) {
            const int64_t px = int64_t(x) * s + dx, py = int64_t(y) * s + dy;
            if (px >= device.left && px < device.right && py >= device.top && py < device.bottom)
                plotRop(c, static_cast<int32_t>(px), static_cast<int32_t>(py), color);
        }
}
// Fills a rectangle given in device pixels (clipped to the drawing area) with a colour.
void fillDevice(Context* c, const Rect& rect, Color color);
// One-pixel line from a to b, end pixel excluded; phase carries the dot pattern across segments.
void thinLine(Context* c, Point a, Point b, int64_t* phase);
// Adds the part of a rectangle (right and bottom exclusive) inside the drawing area to the damage.
void damageRect(Context* c, int64_t l, int64_t t, int64_t r, int64_t b);

// The system font every fresh context holds (raster_cairo.cpp).
Font* stockFont();

}  // namespace pixels
}  // namespace platform
