// SPDX-License-Identifier: GPL-3.0-or-later
// gui-testsheet: draws every primitive, font and bitmap path of the toolkit into one off-screen
// sheet and writes it as a PNG, or shows it in a window, for looking at the pixel rules by eye.
//   gui-testsheet OUTPUT.png
//   gui-testsheet --window [--seconds N]
#include "gui/bitmap.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"
#include "gui/knob.h"
#include "gui/paramdisplay.h"
#include "gui/textedit.h"

#include "testkit/x11_host.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace gui;

namespace {

constexpr int32_t kSheetWidth = 1240, kSheetHeight = 1150;

void caption(CDrawContext& c, int32_t x, int32_t y, const char* text) {
    c.setFont(kFontSmall, 0, kStyleBold);
    c.setFontColor(CColor{220, 220, 230, 0});
    c.drawString(text, CRect(x, y, x + 600, y + 14), 0, kAlignLeft);
}

void primitives(CDrawContext& c, int32_t x0, int32_t y0) {
    caption(c, x0, y0,
            "Lines, rectangles, ellipses, arcs, polygons, points, flood fill, draw modes");
    y0 += 20;
    c.setFrameColor(kWhiteCColor);
    c.setLineWidth(1);
    for (int i = 0; i < 8; ++i) {  // a fan of one-pixel lines, end pixels excluded
        c.moveTo(CPoint(x0 + 10, y0 + 70));
        c.lineTo(CPoint(x0 + 10 + 60 * std::cos(i * 0.2), y0 + 70 - 60 * std::sin(i * 0.2)));
    }
    c.setLineStyle(kDottedLine);
    c.setFrameColor(kYellowCColor);
    c.moveTo(CPoint(x0 + 90, y0 + 5));
    c.lineTo(CPoint(x0 + 200, y0 + 5));
    c.setLineStyle(kSolidLine);
    c.setLineWidth(3);
    c.setFrameColor(kCyanCColor);
    c.moveTo(CPoint(x0 + 90, y0 + 15));
    c.lineTo(CPoint(x0 + 200, y0 + 40));
    c.setLineWidth(1);

    c.setFrameColor(kRedCColor);
    c.setFillColor(CColor{0, 0, 140, 0});
    c.fillRect(CRect(x0 + 90, y0 + 50, x0 + 150, y0 + 90));
    c.drawRect(CRect(x0 + 90, y0 + 50, x0 + 150, y0 + 90));

    c.setFrameColor(kGreenCColor);
    c.setFillColor(CColor{120, 40, 40, 0});
    c.fillEllipse(CRect(x0 + 160, y0 + 50, x0 + 220, y0 + 90));
    c.drawEllipse(CRect(x0 + 160, y0 + 50, x0 + 220, y0 + 90));

    const CRect arcBox(x0 + 230, y0 + 10, x0 + 290, y0 + 70);
    c.setFillColor(CColor{60, 60, 160, 0});
    c.fillArc(arcBox, CPoint(x0 + 290, y0 + 40), CPoint(x0 + 260, y0 + 10));
    c.setFrameColor(kMagentaCColor);
    c.drawArc(arcBox, CPoint(x0 + 260, y0 + 10), CPoint(x0 + 290, y0 + 40));

    const CPoint star[] = {{x0 + 330, y0 + 10},
                           {x0 + 345, y0 + 60},
                           {x0 + 305, y0 + 28},
                           {x0 + 355, y0 + 28},
                           {x0 + 315, y0 + 60}};
    c.setFillColor(CColor{240, 100, 0, 0});
    c.fillPolygon(star, 5);
    c.setFrameColor(kWhiteCColor);
    const CPoint zig[] = {{x0 + 370, y0 + 60},
                          {x0 + 385, y0 + 10},
                          {x0 + 400, y0 + 60},
                          {x0 + 415, y0 + 10},
                          {x0 + 430, y0 + 60}};
    c.polyLine(zig, 5);
    for (int i = 0; i < 20; ++i) c.drawPoint(CPoint(x0 + 440 + i * 3, y0 + 20), kYellowCColor);

    // Flood fill inside an outlined box.
    c.setFrameColor(kWhiteCColor);
    c.drawRect(CRect(x0 + 240, y0 + 75, x0 + 300, y0 + 95));
    c.setFillColor(CColor{0, 140, 70, 0});
    c.floodFill(CPoint(x0 + 250, y0 + 85));

    // Draw modes over a coloured band.
    c.setFillColor(CColor{90, 90, 200, 0});
    c.fillRect(CRect(x0 + 320, y0 + 70, x0 + 500, y0 + 95));
    c.setLineWidth(4);
    const CDrawMode modes[] = {kModeCopy, kModeOr, kModeXor};
    for (int i = 0; i < 3; ++i) {
        c.setDrawMode(modes[i]);
        c.setFrameColor(CColor{200, 60, 40, 0});
        c.moveTo(CPoint(x0 + 340 + i * 55, y0 + 65));
        c.lineTo(CPoint(x0 + 360 + i * 55, y0 + 100));
    }
    c.setDrawMode(kModeCopy);
    c.setLineWidth(1);
}

void fonts(CDrawContext& c, int32_t x0, int32_t y0) {
    caption(c, x0, y0, "Standard fonts 0-7; left, centre and right alignment; opaque text");
    y0 += 20;
    static const char* names[] = {"kFontSystem", "kFontVeryBig", "kFontBig",       "kFontNormal",
                                  "kFontSmall",  "kFontSmaller", "kFontVerySmall", "kFontSymbol"};
    for (int f = 0; f < kNumStandardFonts; ++f) {
        const int32_t y = y0 + f * 24;
        c.setFont(static_cast<CFont>(f));
        c.setFontColor(kWhiteCColor);
        char text[128];
        std::snprintf(text, sizeof text, "%s %d px: Corvex & 0.500000 abc", names[f],
                      standardFontSize[f]);
        c.drawString(text, CRect(x0, y, x0 + 420, y + 22), 0, kAlignLeft);
    }
    int32_t y = y0 + 8 * 24 + 4;
    c.setFont(kFontNormal, 0, kStyleBold);
    c.drawString("bold", CRect(x0, y, x0 + 60, y + 18), 0, kAlignLeft);
    c.setFont(kFontNormal, 0, kStyleItalic);
    c.drawString("italic", CRect(x0 + 60, y, x0 + 120, y + 18), 0, kAlignLeft);
    c.setFont(kFontNormal, 0, kStyleUnderline);
    c.drawString("underline", CRect(x0 + 120, y, x0 + 200, y + 18), 0, kAlignLeft);
    y += 24;
    c.setFrameColor(kGreyCColor);
    const CHoriTxtAlign aligns[] = {kAlignLeft, kAlignCenter, kAlignRight};
    c.setFont(kFontSmaller);
    for (int i = 0; i < 3; ++i) {
        const CRect r(x0 + i * 140, y, x0 + i * 140 + 130, y + 16);
        c.drawRect(r);
        c.setFillColor(CColor{160, 160, 160, 0});
        c.setFontColor(kBlackCColor);
        c.drawString(i == 0 ? "left" : i == 1 ? "centre" : "right", r, i == 1 ? 1 : 0, aligns[i]);
    }
}

void bitmaps(CDrawContext& c, CBitmap& bg, int32_t x0, int32_t y0) {
    caption(c, x0, y0, "Resource 10001: opaque, transparent (outline colour), alpha 50% and 25%");
    y0 += 20;
    if (!bg.isLoaded()) {
        c.setFontColor(kRedCColor);
        c.drawString("bitmap 10001 not found", CRect(x0, y0, x0 + 300, y0 + 20), 0, kAlignLeft);
        return;
    }
    // The top-left corner of the frame, 150 x 100, four ways.
    for (int i = 0; i < 4; ++i) {
        CRect r(x0 + i * 160, y0, x0 + i * 160 + 150, y0 + 100);
        c.setFillColor(CColor{200, 40, 40, 0});
        c.fillRect(CRect(r.left - 1, r.top - 1, r.right, r.bottom));
        switch (i) {
        case 0: bg.draw(&c, r, CPoint(0, 0)); break;
        case 1:
            bg.setTransparentColor(CColor{14, 16, 24, 0});
            bg.drawTransparent(&c, r, CPoint(0, 0));
            bg.setTransparentColor(kTransparentCColor);
            break;
        case 2: bg.drawAlphaBlend(&c, r, CPoint(0, 0), 128); break;
        default: bg.drawAlphaBlend(&c, r, CPoint(0, 0), 64); break;
        }
    }
}

// A small bitmap with a white (transparent) ground and a coloured disc, for the mask paths.
void maskPaths(CDrawContext& c, CBitmap& sprite, int32_t x0, int32_t y0) {
    caption(c, x0, y0, "Transparent: mask, TransparentBlt, on the fly");
    y0 += 20;
    auto* saved = pfnTransparentBlt;
    for (int path = 0; path < 3; ++path) {
        CRect r(x0 + path * 100, y0, x0 + path * 100 + 64, y0 + 64);
        c.setFillColor(CColor{40, 90, 40, 0});
        c.fillRect(CRect(r.left - 1, r.top - 1, r.right + 8, r.bottom + 8));
        if (path == 0) {
            // The mask records what a context shows: draw the sprite, mask it, then use it.
            COffscreenContext scratch(&c, &sprite, false);
            sprite.setTransparencyMask(&scratch, CPoint(0, 0));
        }
        if (path == 2) pfnTransparentBlt = nullptr;
        CRect dest = r;
        dest.offset(4, 4);
        sprite.drawTransparent(&c, dest, CPoint(0, 0));
        pfnTransparentBlt = saved;
        if (path == 0) {
            // Drop the mask again so that the next paths run without one.
            CBitmap* fresh = &sprite;
            fresh->setTransparencyMask(nullptr, CPoint(0, 0));
        }
    }
}

void halftoneArc(CDrawContext& c, int32_t x0, int32_t y0) {
    caption(c, x0, y0, "Thick arcs at 4x, shrunk with halftone (60 x 60), and unshrunk");
    y0 += 20;
    const int32_t w = 60, h = 60;
    platform::Context* target = c.getSystemContext();
    for (int k = 0; k < 3; ++k) {
        platform::Context* big = platform::createContext(target);
        platform::Bitmap* surface = platform::createCompatibleBitmap(target, 4 * w, 4 * h);
        platform::Bitmap* old = platform::selectBitmap(big, surface);
        platform::Brush* bgBrush = platform::createSolidBrush(0x8C0000);
        platform::fillRect(big, {0, 0, 4 * w, 4 * h}, bgBrush);
        platform::PenDesc valueDesc{platform::PenStyle::solid,
                                    16,
                                    k == 0   ? 0xFAF0u
                                    : k == 1 ? 0xFAF000u
                                             : 0x64F0u,
                                    true,
                                    platform::LineCap::flat,
                                    platform::LineJoin::bevel};
        platform::PenDesc trackDesc = valueDesc;
        trackDesc.width = 32;
        trackDesc.color = 0x464646;
        platform::Pen* value = platform::createPen(valueDesc);
        platform::Pen* track = platform::createPen(trackDesc);
        const float R = (4 * w - 128) / 2.0f;
        const int32_t centre = static_cast<int32_t>(64 + R);
        const float start = 225.0f;
        const platform::Point startPoint{static_cast<int32_t>(std::cos(3.92699f) * R + R) + 64,
                                         static_cast<int32_t>(R - std::sin(3.92699f) * R) + 64};
        platform::Pen* oldPen = platform::selectPen(big, track);
        platform::moveTo(big, startPoint);
        platform::angleArc(big, {centre, centre}, static_cast<int32_t>(R), start, -270.0f);
        platform::selectPen(big, value);
        platform::moveTo(big, startPoint);
        platform::angleArc(big, {centre, centre}, static_cast<int32_t>(R), start,
                           -270.0f * (0.25f + 0.35f * k));
        platform::selectPen(big, oldPen);
        const platform::StretchMode mode =
            platform::setStretchMode(target, platform::StretchMode::halftone);
        platform::stretchBlt(target, x0 + k * 80, y0, w, h, big, 0, 0, 4 * w, 4 * h);
        platform::setStretchMode(target, mode);
        if (k == 2)
            platform::bitBlt(target, x0 + 250, y0, 4 * w, 4 * h, big, 0, 0,
                             platform::BlitOp::srcCopy);
        platform::selectBitmap(big, old);
        platform::deleteContext(big);
        platform::deleteBitmap(surface);
        platform::deletePen(value);
        platform::deletePen(track);
        platform::deleteBrush(bgBrush);
    }
}

void editorFrame(CDrawContext& c, CBitmap& bg, int32_t x0, int32_t y0) {
    caption(c, x0, y0, "The editor's view of bitmap 10001: the panel (0, 0, 140) over it");
    y0 += 20;
    if (!bg.isLoaded()) return;
    CRect all(x0, y0, x0 + bg.getWidth(), y0 + bg.getHeight());
    bg.draw(&c, all, CPoint(0, 0));
    c.setFillColor(CColor{0, 0, 140, 0});
    // fillRect paints the inside of its rectangle: one pixel in from the left and top edges.
    c.fillRect(CRect(x0 + 6 - 1, y0 + 4 - 1, x0 + 594, y0 + 346));
}

// The controls page: knobs at several values with the line handle, a display in each style and a
// text field, as they draw when idle.
void controls(CDrawContext& c, int32_t x0, int32_t y0) {
    caption(
        c, x0, y0,
        "Knobs 0, 0.25, 0.5, 0.75, 1 (line handle); displays: 0, shadow, 3D in, 3D out, no text, "
        "transparent; text field");
    y0 += 22;
    c.setFillColor(CColor{60, 64, 80, 0});
    c.fillRect(CRect(x0 - 1, y0 - 1, x0 + 1180, y0 + 120));
    const float values[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    for (int i = 0; i < 5; ++i) {
        const int32_t x = x0 + 10 + i * 70;
        CKnob knob(CRect(x, y0 + 10, x + 60, y0 + 70), nullptr, i, nullptr, nullptr, CPoint());
        knob.setValue(values[i]);
        c.setFrameColor(CColor{140, 140, 160, 0});
        c.drawEllipse(CRect(x, y0 + 10, x + 60, y0 + 70));
        knob.draw(&c);
        CParamDisplay value(CRect(x, y0 + 76, x + 60, y0 + 92), nullptr, 0);
        value.setValue(values[i]);
        value.draw(&c);
    }
    const int32_t styles[] = {0, kShadowText, k3DIn, k3DOut, kNoTextStyle, -1};
    for (int i = 0; i < 6; ++i) {
        const int32_t x = x0 + 370 + i * 80;
        CParamDisplay d(CRect(x, y0 + 20, x + 70, y0 + 40), nullptr, styles[i] < 0 ? 0 : styles[i]);
        d.setValue(0.125f * static_cast<float>(i + 1));
        d.setBackColor(CColor{0, 0, 110, 0});
        d.setFrameColor(CColor{230, 230, 230, 0});
        d.setFont(kFontSmaller);
        if (styles[i] < 0) d.setTransparency(true);
        d.draw(&c);
    }
    CTextEdit field(CRect(x0 + 370, y0 + 60, x0 + 530, y0 + 76), nullptr, 100,
                    "0.731 (typed value)");
    field.setFont(kFontSmaller);
    field.setFontColor(kBlackCColor);
    field.setBackColor(kWhiteCColor);
    field.setFrameColor(kGreyCColor);
    field.setHoriAlign(kAlignLeft);
    field.draw(&c);
}

void drawSheet(CDrawContext& c) {
    c.setFillColor(CColor{32, 34, 40, 0});
    c.fillRect(CRect(-1, -1, kSheetWidth, kSheetHeight));
    CBitmap background(10001);
    CFrame frame(CRect(0, 0, kSheetWidth, kSheetHeight), nullptr, nullptr);
    CBitmap sprite(frame, 64, 64);
    {
        COffscreenContext s(&c, &sprite, true);
        s.setFillColor(kWhiteCColor);
        s.fillRect(CRect(-1, -1, 64, 64));
        s.setFillColor(CColor{230, 180, 0, 0});
        s.fillEllipse(CRect(4, 4, 58, 58));
        s.setFillColor(CColor{0, 0, 140, 0});
        s.fillRect(CRect(22, 22, 40, 40));
    }
    primitives(c, 20, 10);
    fonts(c, 700, 10);
    bitmaps(c, background, 20, 140);
    maskPaths(c, sprite, 20, 280);
    halftoneArc(c, 360, 280);
    editorFrame(c, background, 20, 580);
    controls(c, 20, 990);
}

}  // namespace

int main(int argc, char** argv) {
    bool window = false;
    int seconds = 0;
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--window") == 0) window = true;
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else out = argv[i];
    }
    if (!window && !out) {
        std::fprintf(stderr, "usage: gui-testsheet OUTPUT.png | --window [--seconds N]\n");
        return 2;
    }
    gui::pfnAlphaBlend = platform::bindOptionalBlits().alphaBlend;
    gui::pfnTransparentBlt = platform::bindOptionalBlits().transparentBlt;
    COffscreenContext sheet(static_cast<CFrame*>(nullptr), kSheetWidth, kSheetHeight, kBlackCColor);
    drawSheet(sheet);
    if (!window) {
        if (!platform::writePng(sheet.getBitmap(), out)) {
            std::fprintf(stderr, "gui-testsheet: cannot write %s\n", out);
            return 1;
        }
        return 0;
    }

    struct Shower : platform::WindowEvents {
        platform::Context* sheetContext = nullptr;
        void onPaint(platform::Context* c, const platform::Rect& r) override {
            platform::bitBlt(c, r.left, r.top, r.right - r.left, r.bottom - r.top, sheetContext,
                             r.left, r.top, platform::BlitOp::srcCopy);
        }
        void onButtonDown(platform::Context*, platform::Point, int, uint32_t) override {}
        void onDestroyed() override {}
        bool onDrop(platform::DropKind, const char* const*, int32_t, std::size_t,
                    platform::Point) override {
            return false;
        }
    } shower;
    shower.sheetContext = sheet.getSystemContext();
    testkit::x11host::HostWindow* host =
        testkit::x11host::create(kSheetWidth, kSheetHeight, "gui-testsheet");
    if (!host) {
        std::fprintf(stderr, "gui-testsheet: no X display\n");
        return 1;
    }
    platform::registerWindowClass();
    platform::WindowOptions o;
    o.parent = testkit::x11host::handle(host);
    o.width = kSheetWidth;
    o.height = kSheetHeight;
    o.className = "gui-testsheet";
    o.events = &shower;
    platform::Window* w = platform::createChildWindow(o);
    if (!w) {
        testkit::x11host::destroy(host);
        return 1;
    }
    const uint32_t start = platform::ticks();
    while (testkit::x11host::pump(host) && platform::windowAlive(w)) {
        platform::pumpEvents(w, false);
        if (seconds > 0 && platform::ticks() - start > static_cast<uint32_t>(seconds) * 1000u)
            break;
        platform::sleepMs(40);
    }
    platform::destroyWindow(w);
    platform::unregisterWindowClass();
    testkit::x11host::destroy(host);
    return 0;
}
