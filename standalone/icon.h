// SPDX-License-Identifier: GPL-3.0-or-later
// corvex's application icon, drawn with the platform layer's own raster (no image is imported):
// the editor's navy panel, one of its arc knobs in the oscillator's yellow, and a swell of thirty
// partials under it in the LFOs' cyan. Drawn four times larger and shrunk with the halftone
// stretch, as the arc knobs are, for smooth edges. make-icon writes it into the PNGs the menus
// show and the window hands it to the desktop, so the dock and the menu show the same picture.
// Header-only, so that make-icon needs none of the standalone's library.
//
// Threads: the raster's rule, the thread that draws (make-icon's only one, the window's main
// thread).
#pragma once

#include "platform/raster.h"

#include <cmath>
#include <cstdint>

namespace corvex_standalone {

namespace icon_detail {

inline void draw(platform::Context* dc, int32_t s) {
    using namespace platform;
    Brush* back = createSolidBrush(rgb(0, 0, 90));
    fillRect(dc, Rect{0, 0, s, s}, back);
    deleteBrush(back);
    Brush* panel = createSolidBrush(rgb(0, 0, 140));
    const int32_t inset = s / 24;
    fillRect(dc, Rect{inset, inset, s - inset, s - inset}, panel);
    deleteBrush(panel);

    // The knob: a grey track, the value's arc from the lower left clockwise, the handle.
    const Point centre{s / 2, s * 9 / 20};
    const int32_t radius = s * 3 / 10;
    selectBrush(dc, stockNullBrush());
    const auto stroke = [&](Color color, int32_t width, float start, float sweep) {
        PenDesc d;
        d.width = width;
        d.color = color;
        d.geometric = true;
        d.cap = LineCap::round;
        Pen* pen = createPen(d);
        Pen* old = selectPen(dc, pen);
        const double a = start * 3.141592653589793 / 180.0;
        moveTo(dc, Point{centre.x + static_cast<int32_t>(radius * std::cos(a)),
                         centre.y - static_cast<int32_t>(radius * std::sin(a))});
        angleArc(dc, centre, radius, start, sweep);
        selectPen(dc, old);
        deletePen(pen);
    };
    stroke(rgb(80, 80, 80), s / 11, 225.0f, -270.0f);
    stroke(rgb(240, 250, 0), s / 11, 225.0f, -190.0f);

    // Thirty partials, each as tall as its own slow swell.
    PenDesc bar;
    bar.width = s / 80 > 1 ? s / 80 : 1;
    bar.color = rgb(0, 240, 250);
    bar.geometric = true;
    bar.cap = LineCap::flat;
    Pen* pen = createPen(bar);
    Pen* old = selectPen(dc, pen);
    const int32_t left = s * 3 / 16, right = s * 13 / 16, base = s * 15 / 16 - inset;
    for (int i = 0; i < 30; ++i) {
        const int32_t x = left + (right - left) * i / 29;
        const double swell = 0.55 + 0.45 * std::sin(i * 0.9) * std::cos(i * 0.23);
        const auto height = static_cast<int32_t>(s * 0.16 * swell);
        moveTo(dc, Point{x, base});
        lineTo(dc, Point{x, base - height});
    }
    selectPen(dc, old);
    deletePen(pen);
}

}  // namespace icon_detail

constexpr int32_t kMinIconSize = 16;
constexpr int32_t kMaxIconSize = 1024;

// The icon, size x size pixels (16-1024), in a new colour bitmap the caller deletes; null for
// another size or when the raster has no memory for it.
inline platform::Bitmap* drawIcon(int32_t size) {
    using namespace platform;
    constexpr int32_t kScale = 4;
    if (size < kMinIconSize || size > kMaxIconSize) return nullptr;
    Bitmap* large = createBitmap(size * kScale, size * kScale);
    Bitmap* icon = createBitmap(size, size);
    Context* big = createContext(nullptr);
    Context* small = createContext(nullptr);
    const bool ready = large && icon && big && small;
    if (ready) {
        selectBitmap(big, large);
        selectBitmap(small, icon);
        icon_detail::draw(big, size * kScale);
        setStretchMode(small, StretchMode::halftone);
        stretchBlt(small, 0, 0, size, size, big, 0, 0, size * kScale, size * kScale);
    }
    // The contexts let go of the bitmaps; the icon stays.
    deleteContext(big);
    deleteContext(small);
    deleteBitmap(large);
    if (!ready) {
        deleteBitmap(icon);
        return nullptr;
    }
    return icon;
}

}  // namespace corvex_standalone
