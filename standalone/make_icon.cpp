// SPDX-License-Identifier: GPL-3.0-or-later
// make-icon: draws corvex's application icon at build time, with the platform layer's own raster
// (no image is imported): the editor's navy panel, one of its arc knobs in the oscillator's yellow,
// and a swell of thirty partials under it in the LFOs' cyan. Drawn four times larger and shrunk
// with the halftone stretch, as the arc knobs are, for smooth edges.
//   make-icon SIZE OUTPUT.png
#include "platform/raster.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kScale = 4;

void draw(platform::Context* dc, int32_t s) {
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

}  // namespace

int main(int argc, char** argv) {
    const int32_t size = argc == 3 ? std::atoi(argv[1]) : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: make-icon SIZE(16-1024) OUTPUT.png\n");
        return 2;
    }
    using namespace platform;
    Bitmap* large = createBitmap(size * kScale, size * kScale);
    Bitmap* icon = createBitmap(size, size);
    Context* big = createContext(nullptr);
    Context* small = createContext(nullptr);
    if (!large || !icon || !big || !small) return 1;
    selectBitmap(big, large);
    selectBitmap(small, icon);
    draw(big, size * kScale);
    setStretchMode(small, StretchMode::halftone);
    stretchBlt(small, 0, 0, size, size, big, 0, 0, size * kScale, size * kScale);
    const bool ok = writePng(icon, argv[2]);
    deleteContext(big);
    deleteContext(small);
    deleteBitmap(large);
    deleteBitmap(icon);
    if (!ok) std::fprintf(stderr, "make-icon: cannot write %s\n", argv[2]);
    return ok ? 0 : 1;
}
