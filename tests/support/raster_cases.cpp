// SPDX-License-Identifier: GPL-3.0-or-later
// The shared drawing cases (see raster_cases.h). Each one uses only the toolkit and the raster
// interface, so the same code runs over cairo and over GDI.
#include "raster_cases.h"

#include "gui/bitmap.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"
#include "platform/raster_window.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

using namespace gui;

namespace raster_cases {

namespace {

constexpr CColor kBackground{10, 20, 30, 0};
constexpr int32_t kSide = 96;

void boxes(CDrawContext& c) {
    const CColor colours[] = {kRedCColor, kGreenCColor, kBlueCColor, CColor{200, 160, 40, 0}};
    for (int i = 0; i < 4; ++i) {
        c.setFillColor(colours[i]);
        c.fillRect(CRect(5 + 20 * i, 5 + 10 * i, 30 + 20 * i, 40 + 10 * i));
    }
    c.setFrameColor(kWhiteCColor);
    c.drawRect(CRect(2, 60, 40, 90));
    c.setFrameColor(kYellowCColor);
    c.drawRect(CRect(50, 60, 51, 61));
    c.setFillColor(kMagentaCColor);
    c.fillRect(CRect(60, 70, 90, 92));
    c.setFrameColor(kCyanCColor);
    c.drawRect(CRect(60, 70, 90, 92));
}

void straightLines(CDrawContext& c) {
    c.setFrameColor(kWhiteCColor);
    for (int i = 0; i < 8; ++i) {
        c.moveTo(CPoint(5 + i * 3, 5 + i * 10));
        c.lineTo(CPoint(90 - i * 4, 5 + i * 10));  // ends excluded
        c.moveTo(CPoint(5 + i * 11, 90));
        c.lineTo(CPoint(5 + i * 11, 88 - i * 4));
    }
    c.setLineStyle(kDottedLine);
    c.setFrameColor(kYellowCColor);
    c.moveTo(CPoint(3, 93));
    c.lineTo(CPoint(93, 93));
}

void diagonalLines(CDrawContext& c) {
    c.setFrameColor(kWhiteCColor);
    for (int i = 0; i < 12; ++i) {
        c.moveTo(CPoint(48, 48));
        c.lineTo(CPoint(48 + static_cast<int32_t>(std::lround(44 * std::cos(i * 0.5236))),
                        48 - static_cast<int32_t>(std::lround(44 * std::sin(i * 0.5236)))));
    }
    c.setFrameColor(kGreenCColor);
    c.moveTo(CPoint(2, 2));
    c.lineTo(CPoint(30, 16));  // a slope of exactly one half
}

void drawModes(CDrawContext& c) {
    c.setFillColor(CColor{0x30, 0x60, 0x90, 0});
    c.fillRect(CRect(-1, -1, kSide, kSide));
    c.setFrameColor(CColor{0x0F, 0xF0, 0x33, 0});
    c.setDrawMode(kModeOr);
    for (int y = 10; y < 30; y += 2) {
        c.moveTo(CPoint(10, y));
        c.lineTo(CPoint(80, y));
    }
    c.setDrawMode(kModeXor);
    for (int y = 40; y < 60; y += 2) {
        c.moveTo(CPoint(10, y));
        c.lineTo(CPoint(80, y));
    }
    c.setDrawMode(kModeCopy);
    c.drawPoint(CPoint(5, 90), kRedCColor);
    c.drawPoint(CPoint(6, 90), CColor{1, 2, 3, 0});
}

void floodFill(CDrawContext& c) {
    c.setFrameColor(kWhiteCColor);
    c.drawRect(CRect(10, 10, 60, 50));
    c.drawRect(CRect(30, 30, 80, 80));
    c.setFillColor(kRedCColor);
    c.floodFill(CPoint(20, 20));
    c.setFillColor(kBlueCColor);
    c.floodFill(CPoint(5, 90));
}

void polygons(CDrawContext& c) {
    c.setFillColor(kRedCColor);
    const CPoint square[] = {{10, 10}, {40, 10}, {40, 40}, {10, 40}};
    c.fillPolygon(square, 4);
    c.setFillColor(kGreenCColor);
    const CPoint triangle[] = {{50, 10}, {90, 40}, {55, 45}};
    c.fillPolygon(triangle, 3);
    c.setFrameColor(kYellowCColor);
    const CPoint zigzag[] = {{5, 60}, {20, 90}, {35, 60}, {50, 90}, {65, 60}, {80, 90}};
    c.polyLine(zigzag, 6);
}

void ellipses(CDrawContext& c) {
    c.setFillColor(CColor{120, 40, 40, 0});
    c.fillEllipse(CRect(5, 5, 45, 35));
    c.setFrameColor(kGreenCColor);
    c.drawEllipse(CRect(50, 5, 90, 45));
    c.setFillColor(CColor{60, 60, 160, 0});
    c.fillArc(CRect(5, 50, 45, 90), CPoint(45, 70), CPoint(25, 50));
    c.setFrameColor(kWhiteCColor);
    c.drawArc(CRect(50, 50, 90, 90), CPoint(90, 70), CPoint(50, 70));
}

void wideLines(CDrawContext& c) {
    c.setLineWidth(3);
    c.setFrameColor(kCyanCColor);
    c.moveTo(CPoint(10, 10));
    c.lineTo(CPoint(85, 30));
    c.setLineWidth(6);
    c.setFrameColor(kRedCColor);
    c.moveTo(CPoint(15, 80));
    c.lineTo(CPoint(80, 50));
}

void bitmaps(CDrawContext& c) {
    // A bitmap made by drawing, shown opaque and through the three transparent-copy paths.
    COffscreenContext art(static_cast<CFrame*>(nullptr), 20, 20, kWhiteCColor);
    art.setFillColor(kRedCColor);
    art.fillRect(CRect(3, 3, 17, 17));
    art.setFillColor(kBlueCColor);
    art.fillRect(CRect(7, 7, 12, 12));
    // A frame without a window binds the optional blits, as the editor's frame does.
    CFrame frame(CRect(0, 0, 1, 1), nullptr, nullptr);
    CBitmap sprite(frame, 20, 20);
    {
        COffscreenContext into(&art, &sprite, true);
        art.copyFrom(&into, CRect(0, 0, 20, 20), CPoint(0, 0));
    }
    CRect r(5, 5, 25, 25);
    sprite.draw(&c, r, CPoint(0, 0));
    auto* savedBlt = pfnTransparentBlt;
    r = CRect(30, 5, 50, 25);
    pfnTransparentBlt = nullptr;
    sprite.drawTransparent(&c, r, CPoint(0, 0));  // the mask built on the fly
    pfnTransparentBlt = savedBlt;
    r = CRect(55, 5, 75, 25);
    sprite.drawTransparent(&c, r, CPoint(0, 0));  // TransparentBlt where bound
    r = CRect(5, 40, 25, 60);
    sprite.draw(&c, r, CPoint(0, 0));
    sprite.setTransparencyMask(&c, CPoint(5, 40));
    r = CRect(30, 40, 50, 60);
    sprite.drawTransparent(&c, r, CPoint(0, 0));  // the precomputed mask
    r = CRect(60, 60, 75, 75);
    sprite.draw(&c, r, CPoint(5, 5));  // a block from inside the bitmap
}

// The arc knob's drawing, straight on the raster: painted at four times the size with flat-capped,
// bevel-joined geometric pens and shrunk with the halftone stretch.
void arcKnob(CDrawContext& c, float value) {
    platform::Context* target = c.getSystemContext();
    const int32_t w = 60, h = 60, x = 18, y = 18;
    platform::Context* off = platform::createContext(target);
    platform::Bitmap* big = platform::createCompatibleBitmap(target, 4 * w, 4 * h);
    if (!off || !big) return;
    platform::Bitmap* old = platform::selectBitmap(off, big);
    platform::Brush* brush = platform::createSolidBrush(platform::rgb(30, 30, 30));
    platform::fillRect(off, {0, 0, 4 * w, 4 * h}, brush);
    platform::PenDesc d;
    d.geometric = true;
    d.cap = platform::LineCap::flat;
    d.join = platform::LineJoin::bevel;
    d.width = 16;
    d.color = platform::rgb(40, 120, 255);
    platform::Pen* valuePen = platform::createPen(d);
    d.width = 32;
    d.color = 0x464646;
    platform::Pen* trackPen = platform::createPen(d);
    const float start = 3.9269909858703613f, range = -4.71238899230957f;
    const float radius = (4 * w - 128) / 2.0f;
    const platform::Point centre{static_cast<int32_t>(64 + radius),
                                 static_cast<int32_t>(64 + radius)};
    const float startDeg = static_cast<float>(start * 180.0 / 3.14159265358979323846);
    const float rangeDeg = static_cast<float>(range * 180.0 / 3.14159265358979323846);
    const platform::Point from{static_cast<int32_t>(std::cos(start) * radius + radius) + 64,
                               static_cast<int32_t>(radius - std::sin(start) * radius) + 64};
    platform::Pen* previous = platform::selectPen(off, trackPen);
    platform::moveTo(off, from);
    platform::angleArc(off, centre, static_cast<int32_t>(radius), startDeg, rangeDeg);
    platform::selectPen(off, valuePen);
    platform::moveTo(off, from);
    platform::angleArc(off, centre, static_cast<int32_t>(radius), startDeg, rangeDeg * value);
    platform::selectPen(off, previous);
    const platform::StretchMode mode =
        platform::setStretchMode(target, platform::StretchMode::halftone);
    platform::stretchBlt(target, x, y, w, h, off, 0, 0, 4 * w, 4 * h);
    platform::setStretchMode(target, mode);
    platform::deletePen(valuePen);
    platform::deletePen(trackPen);
    platform::deleteBrush(brush);
    platform::selectBitmap(off, old);
    platform::deleteContext(off);
    platform::deleteBitmap(big);
}

void text(CDrawContext& c) {
    c.setFont(kFontNormal);
    c.setFontColor(kWhiteCColor);
    c.drawString("Attack", CRect(2, 4, 94, 24), 0, kAlignLeft);
    c.setFont(kFontSmaller);
    c.drawString("0.500000", CRect(2, 30, 94, 50), 0, kAlignCenter);
    c.setFont(kFontSystem);
    c.setFillColor(CColor{160, 160, 160, 0});
    c.setFontColor(kBlackCColor);
    c.drawString("Corvex", CRect(2, 60, 94, 80), 1, kAlignRight);
}

using DrawFn = std::function<void(CDrawContext&)>;
const std::map<std::string, DrawFn>& drawers() {
    static const std::map<std::string, DrawFn> table = {
        {"boxes", boxes},
        {"straight-lines", straightLines},
        {"diagonal-lines", diagonalLines},
        {"draw-modes", drawModes},
        {"flood-fill", floodFill},
        {"polygons", polygons},
        {"ellipses", ellipses},
        {"wide-lines", wideLines},
        {"bitmaps", bitmaps},
        {"arc-knob-0", [](CDrawContext& c) { arcKnob(c, 0.0f); }},
        {"arc-knob-half", [](CDrawContext& c) { arcKnob(c, 0.5f); }},
        {"arc-knob-full", [](CDrawContext& c) { arcKnob(c, 1.0f); }},
        {"text", text},
    };
    return table;
}

}  // namespace

const std::vector<Case>& cases() {
    static const std::vector<Case> list = {
        {"boxes", Rule::exact},
        {"straight-lines", Rule::exact},
        {"diagonal-lines", Rule::outline},
        {"draw-modes", Rule::exact},
        {"flood-fill", Rule::exact},
        {"polygons", Rule::outline},
        {"ellipses", Rule::outline},
        {"wide-lines", Rule::outline},
        {"bitmaps", Rule::exact},
        {"arc-knob-0", Rule::smooth},
        {"arc-knob-half", Rule::smooth},
        {"arc-knob-full", Rule::smooth},
        {"text", Rule::text},
    };
    return list;
}

platform::Bitmap* render(const std::string& name, int32_t scale) {
    auto it = drawers().find(name);
    if (it == drawers().end()) return nullptr;
    if (scale != 1) {
        // Straight into a bitmap at the scale, prepared as the off-screen surface prepares its own.
        platform::Bitmap* out = platform::createScaledBitmap(kSide, kSide, scale);
        platform::Context* into = out ? platform::createContext(nullptr) : nullptr;
        if (!into) {
            platform::deleteBitmap(out);
            return nullptr;
        }
        platform::Bitmap* old = platform::selectBitmap(into, out);
        {
            CDrawContext surface(nullptr, into, nullptr);
            surface.setFillColor(kBackground);
            surface.setFrameColor(kBackground);
            surface.fillRect(CRect(0, 0, kSide, kSide));
            surface.drawRect(CRect(0, 0, kSide, kSide));
            it->second(surface);
        }
        platform::selectBitmap(into, old);
        platform::deleteContext(into);
        return out;
    }
    platform::Bitmap* out = platform::createBitmap(kSide, kSide);
    if (!out) return nullptr;
    {
        COffscreenContext surface(static_cast<CFrame*>(nullptr), kSide, kSide, kBackground);
        it->second(surface);
        // Copied out through the raster, so the result does not depend on how the surface is held.
        platform::Context* into = platform::createContext(nullptr);
        platform::Bitmap* old = platform::selectBitmap(into, out);
        platform::bitBlt(into, 0, 0, kSide, kSide, surface.getSystemContext(), 0, 0,
                         platform::BlitOp::srcCopy);
        platform::selectBitmap(into, old);
        platform::deleteContext(into);
    }
    return out;
}

bool writeBmp(platform::Bitmap* bitmap, const std::string& path, int32_t scale) {
    int32_t stride = 0;
    const uint32_t* px = platform::bitmapPixels(bitmap, &stride);
    if (!px || scale < 1) return false;
    const int32_t w = platform::bitmapWidth(bitmap) * scale;
    const int32_t h = platform::bitmapHeight(bitmap) * scale;
    const uint32_t row = static_cast<uint32_t>((w * 3 + 3) / 4 * 4);
    const uint32_t size = 54 + row * static_cast<uint32_t>(h);
    std::vector<uint8_t> out(size, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    out[26] = 1;
    out[28] = 24;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* dst = out.data() + 54 + static_cast<size_t>(h - 1 - y) * row;
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t p = px[static_cast<size_t>(y) * stride + x];
            dst[x * 3] = static_cast<uint8_t>(p);
            dst[x * 3 + 1] = static_cast<uint8_t>(p >> 8);
            dst[x * 3 + 2] = static_cast<uint8_t>(p >> 16);
        }
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace raster_cases
