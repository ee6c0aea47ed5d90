// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the drawing context's pixel rules on an in-memory surface: the one-pixel inset of
// fills, excluded end pixels, arc direction, clipping without offset, text alignment offsets,
// draw modes, flood fill, point access, and safe answers to bad input.
#include "gui/drawcontext.h"
#include "gui/frame.h"

#include "platform/memory_window.h"

#include <gtest/gtest.h>

#include <vector>

using namespace gui;

namespace {

constexpr CColor kBg{10, 20, 30, 0};
constexpr CColor kPen{250, 200, 100, 0};

// A 100 x 100 colour surface wrapped in a CDrawContext, cleared to kBg.
class DrawContextPixels : public ::testing::Test {
protected:
    void SetUp() override {
        dc = platform::createContext(nullptr);
        bitmap = platform::createBitmap(100, 100);
        platform::selectBitmap(dc, bitmap);
        ctx = new CDrawContext(nullptr, dc, nullptr);
        clear();
    }
    void TearDown() override {
        delete ctx;
        platform::deleteContext(dc);
        platform::deleteBitmap(bitmap);
    }
    void clear() {
        platform::Brush* b = platform::createSolidBrush(kBg.packed());
        platform::fillRect(dc, {0, 0, 100, 100}, b);
        platform::deleteBrush(b);
    }
    CColor at(int x, int y) { return ctx->getPoint(CPoint(x, y)); }
    int count(CColor c) {
        int n = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) n += at(x, y) == c;
        return n;
    }
    platform::Context* dc = nullptr;
    platform::Bitmap* bitmap = nullptr;
    CDrawContext* ctx = nullptr;
};

}  // namespace

TEST_F(DrawContextPixels, FreshContextHasWhitePenBlackBrushWhiteText) {
    EXPECT_EQ(ctx->getFrameColor(), kWhiteCColor);
    EXPECT_EQ(ctx->getFillColor(), kBlackCColor);
    EXPECT_EQ(ctx->getFontColor(), kWhiteCColor);
    EXPECT_EQ(ctx->getLineWidth(), 1);
    CRect clip;
    EXPECT_EQ(ctx->getClipRect(clip), CRect(0, 0, 1000, 1000));
    ctx->moveTo(CPoint(0, 0));
    ctx->lineTo(CPoint(3, 0));
    EXPECT_EQ(at(0, 0), kWhiteCColor);
    ctx->fillRect(CRect(5, 5, 8, 8));
    EXPECT_EQ(at(6, 6), kBlackCColor);
}

TEST_F(DrawContextPixels, FillRectPaintsTheInteriorOfDrawRect) {
    ctx->setFillColor(kRedCColor);
    ctx->fillRect(CRect(10, 10, 20, 20));
    EXPECT_EQ(count(kRedCColor), 81);
    EXPECT_EQ(at(11, 11), kRedCColor);
    EXPECT_EQ(at(19, 19), kRedCColor);
    EXPECT_EQ(at(10, 15), kBg);
    EXPECT_EQ(at(20, 15), kBg);
    ctx->setFrameColor(kGreenCColor);
    ctx->drawRect(CRect(10, 10, 20, 20));
    // The outline covers both edges: 11 pixels a side, 40 in all.
    EXPECT_EQ(count(kGreenCColor), 40);
    for (int i = 10; i <= 20; ++i) {
        EXPECT_EQ(at(i, 10), kGreenCColor);
        EXPECT_EQ(at(i, 20), kGreenCColor);
        EXPECT_EQ(at(10, i), kGreenCColor);
        EXPECT_EQ(at(20, i), kGreenCColor);
    }
    EXPECT_EQ(count(kRedCColor), 81);
}

struct LineCase {
    CPoint from, to;
    int pixels;
};
class LineEnds : public DrawContextPixels, public ::testing::WithParamInterface<LineCase> {};
TEST_P(LineEnds, EndPixelIsNotDrawn) {
    const auto& c = GetParam();
    ctx->setFrameColor(kPen);
    ctx->moveTo(c.from);
    ctx->lineTo(c.to);
    EXPECT_EQ(at(c.from.x, c.from.y), kPen);
    EXPECT_EQ(at(c.to.x, c.to.y), kBg);
    EXPECT_EQ(count(kPen), c.pixels);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, LineEnds,
    ::testing::Values(LineCase{{10, 10}, {20, 10}, 10}, LineCase{{20, 10}, {10, 10}, 10},
                      LineCase{{5, 5}, {5, 40}, 35}, LineCase{{10, 10}, {30, 30}, 20},
                      LineCase{{30, 5}, {2, 19}, 28}, LineCase{{7, 7}, {8, 9}, 2}));

TEST_F(DrawContextPixels, OffsetTranslatesDrawingButNotTheClip) {
    ctx->offset = CPoint(30, 40);
    ctx->setClipRect(CRect(0, 0, 45, 100));
    ctx->setFillColor(kRedCColor);
    ctx->fillRect(CRect(0, 0, 20, 20));  // device 31..49 x 41..59, clipped at x 45
    ctx->offset = CPoint(0, 0);
    ctx->setClipRect(CRect(0, 0, 100, 100));
    EXPECT_EQ(at(31, 41), kRedCColor);
    EXPECT_EQ(at(44, 41), kRedCColor);
    EXPECT_EQ(at(45, 41), kBg);
    EXPECT_EQ(at(30, 41), kBg);
    EXPECT_EQ(count(kRedCColor), 14 * 19);
}

TEST_F(DrawContextPixels, DrawEllipseOutlinesTheWholeBoxInclusive) {
    ctx->setFrameColor(kPen);
    ctx->drawEllipse(CRect(10, 20, 50, 40));
    // Touches all four edges of the inclusive box and nothing outside it.
    EXPECT_EQ(at(30, 20), kPen);
    EXPECT_EQ(at(30, 40), kPen);
    EXPECT_EQ(at(10, 30), kPen);
    EXPECT_EQ(at(50, 30), kPen);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (x < 10 || x > 50 || y < 20 || y > 40) {
                ASSERT_EQ(at(x, y), kBg) << x << "," << y;
            }
    EXPECT_EQ(at(30, 30), kBg);  // outline only
}

TEST_F(DrawContextPixels, ArcRunsCounterClockwiseFromTheFirstRay) {
    ctx->setFrameColor(kPen);
    const CRect box(20, 20, 60, 60);
    // From the right (east) to the top (north), counter-clockwise: the upper-right quarter.
    ctx->drawArc(box, CPoint(60, 40), CPoint(40, 20));
    int upperRight = 0, others = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (at(x, y) == kPen) (x >= 40 && y <= 40 ? upperRight : others)++;
    EXPECT_GT(upperRight, 20);
    EXPECT_EQ(others, 0);
    clear();
    // Reversed rays: the other three quarters.
    ctx->drawArc(box, CPoint(40, 20), CPoint(60, 40));
    upperRight = others = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (at(x, y) == kPen) (x > 41 && y < 39 ? upperRight : others)++;
    EXPECT_EQ(upperRight, 0);
    EXPECT_GT(others, 60);
}

TEST_F(DrawContextPixels, FillArcAndFillEllipseStayInsideTheirInsetBoxes) {
    ctx->setFillColor(kRedCColor);
    ctx->fillEllipse(CRect(10, 10, 30, 30));  // box 11..30 right/bottom exclusive -> 11..30
    EXPECT_EQ(at(21, 21), kRedCColor);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (at(x, y) == kRedCColor) {
                ASSERT_GE(x, 11);
                ASSERT_LE(x, 30);
                ASSERT_GE(y, 11);
                ASSERT_LE(y, 30);
            }
    clear();
    ctx->fillArc(CRect(40, 40, 80, 80), CPoint(80, 60), CPoint(60, 40));  // upper-right slice
    EXPECT_EQ(at(66, 54), kRedCColor);
    EXPECT_EQ(at(54, 66), kBg);
    EXPECT_EQ(at(54, 54), kBg);
}

TEST_F(DrawContextPixels, FillPolygonHasNoOutlineAndRestoresThePen) {
    ctx->setFrameColor(kPen);
    ctx->setFillColor(kRedCColor);
    const CPoint square[] = {{10, 10}, {20, 10}, {20, 20}, {10, 20}};
    ctx->fillPolygon(square, 4);
    EXPECT_EQ(count(kRedCColor), 100);
    EXPECT_EQ(count(kPen), 0);
    ctx->moveTo(CPoint(0, 50));
    ctx->lineTo(CPoint(5, 50));
    EXPECT_EQ(count(kPen), 5);
}

TEST_F(DrawContextPixels, PolyLineOfManyPointsDrawsLikeOneOfFew) {
    std::vector<CPoint> many;
    for (int i = 0; i <= 40; ++i) many.emplace_back(10 + i, 10 + (i % 2));
    ctx->setFrameColor(kPen);
    ctx->polyLine(many.data(), static_cast<int32_t>(many.size()));
    EXPECT_EQ(count(kPen), 40);  // the last point is excluded
    ctx->polyLine(nullptr, 5);
    ctx->polyLine(many.data(), 0);
    ctx->polyLine(many.data(), -3);
}

TEST_F(DrawContextPixels, DrawModesOrAndNotXor) {
    const CColor base{0x10, 0x20, 0x30, 0};
    ctx->setFillColor(base);
    ctx->fillRect(CRect(-1, -1, 100, 100));
    ctx->setFrameColor(CColor{0x01, 0x02, 0x04, 0});
    ctx->setDrawMode(kModeOr);
    ctx->moveTo(CPoint(0, 0));
    ctx->lineTo(CPoint(1, 0));
    EXPECT_EQ(at(0, 0), (CColor{0x11, 0x22, 0x34, 0}));
    ctx->setDrawMode(kModeXor);
    ctx->moveTo(CPoint(0, 1));
    ctx->lineTo(CPoint(1, 1));
    EXPECT_EQ(at(0, 1),
              (CColor{static_cast<uint8_t>(~(0x10 ^ 0x01)), static_cast<uint8_t>(~(0x20 ^ 0x02)),
                      static_cast<uint8_t>(~(0x30 ^ 0x04)), 0}));
    ctx->setDrawMode(kModeCopy);
    ctx->moveTo(CPoint(0, 2));
    ctx->lineTo(CPoint(1, 2));
    EXPECT_EQ(at(0, 2), (CColor{0x01, 0x02, 0x04, 0}));
}

TEST_F(DrawContextPixels, DottedLinesLeaveGaps) {
    ctx->setFrameColor(kPen);
    ctx->setLineStyle(kDottedLine);
    ctx->moveTo(CPoint(0, 5));
    ctx->lineTo(CPoint(60, 5));
    const int lit = count(kPen);
    EXPECT_EQ(lit, 30);
    EXPECT_EQ(ctx->getLineStyle(), kDottedLine);
}

TEST_F(DrawContextPixels, FloodFillPaintsTheConnectedAreaOfTheSeedColour) {
    ctx->setFrameColor(kPen);
    ctx->drawRect(CRect(10, 10, 30, 30));
    ctx->setFillColor(kRedCColor);
    ctx->floodFill(CPoint(20, 20));
    EXPECT_EQ(count(kRedCColor), 19 * 19);
    EXPECT_EQ(at(5, 5), kBg);
    ctx->floodFill(CPoint(200, 200));  // outside: nothing
    ctx->floodFill(CPoint(5, 5));      // the outside area
    EXPECT_EQ(count(kRedCColor), 100 * 100 - 80);
}

TEST_F(DrawContextPixels, PointsRoundTripAndOutsideReadsAsInvalid) {
    ctx->drawPoint(CPoint(3, 4), CColor{1, 2, 3, 77});
    EXPECT_EQ(at(3, 4), (CColor{1, 2, 3, 0}));
    EXPECT_EQ(at(3, 4).reserved, 0);
    EXPECT_EQ(at(-1, 0), kWhiteCColor);  // the platform's invalid colour reads as white
    ctx->drawPoint(CPoint(1000, 1000), kRedCColor);
}

TEST_F(DrawContextPixels, HugeCoordinatesFinishQuicklyAndStayInBounds) {
    ctx->setFrameColor(kPen);
    ctx->moveTo(CPoint(-2000000000, 50));
    ctx->lineTo(CPoint(2000000000, 50));
    EXPECT_EQ(count(kPen), 100);
    ctx->setLineWidth(5);
    ctx->drawEllipse(CRect(-2000000000, -2000000000, 2000000000, 2000000000));
    ctx->drawArc(CRect(5, 5, 5, 5), CPoint(5, 5), CPoint(5, 5));
}

TEST_F(DrawContextPixels, TextAlignmentOffsets) {
    ctx->setFont(kFontNormal);
    ctx->setFontColor(kWhiteCColor);
    const int32_t w = ctx->getStringWidth("MMMM");
    ASSERT_GT(w, 20);
    auto inkLeft = [&]() {
        for (int x = 0; x < 100; ++x)
            for (int y = 0; y < 100; ++y)
                if (at(x, y) != kBg) return x;
        return -1;
    };
    auto inkRight = [&]() {
        for (int x = 99; x >= 0; --x)
            for (int y = 0; y < 100; ++y)
                if (at(x, y) != kBg) return x;
        return -1;
    };
    ctx->drawString("MMMM", CRect(10, 10, 90, 30), 0, kAlignLeft);
    const int left = inkLeft();
    clear();
    ctx->drawString("MMMM", CRect(9, 10, 89, 30), 0, kAlignCenter);
    const int centre = inkLeft();
    clear();
    ctx->drawString("MMMM", CRect(9, 10, 89, 30), 0, kAlignRight);
    const int right = inkRight();
    // Left alignment starts one pixel right of the edge, so text at rect.left + 1.
    clear();
    ctx->drawString("MMMM", CRect(9, 10, 89, 30), 0, static_cast<CHoriTxtAlign>(7));
    const int bearing = left - 11;  // left alignment draws from rect.left + 1
    EXPECT_EQ(inkLeft(), 10 + bearing) << "unknown alignments align left, shifted by one";
    EXPECT_EQ(centre, 9 + (80 - w) / 2 + bearing);
    EXPECT_LE(right, 88);
    EXPECT_GE(right, 88 - 2);
}

TEST_F(DrawContextPixels, TextIsClippedToItsRectangleAndOpaqueFillsTheCell) {
    ctx->setFont(kFontVeryBig);
    ctx->setFontColor(kWhiteCColor);
    ctx->drawString("WWWWWWWWWWWWWWWW", CRect(10, 10, 40, 30), 0, kAlignLeft);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (x < 10 || x >= 40 || y < 10 || y >= 30) {
                ASSERT_EQ(at(x, y), kBg);
            }
    clear();
    ctx->setFillColor(kGreyCColor);
    ctx->setFont(kFontNormal);
    ctx->drawString("a", CRect(0, 0, 100, 40), 1, kAlignCenter);
    EXPECT_GT(count(kGreyCColor), 20);
    clear();
    ctx->drawString(nullptr, CRect(0, 0, 100, 40), 1, kAlignCenter);
    EXPECT_EQ(count(kBg), 10000);
}

TEST_F(DrawContextPixels, SetFontFallsBackToSystemAndKeepsSizes) {
    ctx->setFont(static_cast<CFont>(9));
    EXPECT_EQ(ctx->getFont(), kFontSystem);
    EXPECT_EQ(ctx->getFontSize(), 12);
    const int32_t boldWidth = ctx->getStringWidth("Corvex synth");
    ctx->setFont(kFontNormal);
    EXPECT_GT(boldWidth, ctx->getStringWidth("Corvex synth"));  // the system font is bold
    ctx->setFont(kFontSmaller, 0, 0);
    EXPECT_EQ(ctx->getFontSize(), 10);
    ctx->setFont(kFontSmaller, 25, 0);
    EXPECT_EQ(ctx->getFontSize(), 25);
    ctx->setFont(static_cast<CFont>(-4));
    EXPECT_EQ(ctx->getFont(), kFontSystem);
    EXPECT_EQ(ctx->getStringWidth(nullptr), 0);
    const std::string huge(1 << 20, 'x');
    EXPECT_GT(ctx->getStringWidth(huge.c_str()), 0);
}

TEST(DrawContext, WithoutDeviceContextNothingIsCreatedAndNothingCrashes) {
    CDrawContext ctx(nullptr, nullptr, nullptr);
    ctx.setFillColor(kRedCColor);
    ctx.setFrameColor(kRedCColor);
    ctx.setFont(kFontBig);
    ctx.setDrawMode(kModeXor);
    ctx.fillRect(CRect(0, 0, 10, 10));
    ctx.drawString("x", CRect(0, 0, 10, 10), 1, kAlignLeft);
    EXPECT_EQ(ctx.getFillColor(), kRedCColor);
    EXPECT_EQ(ctx.getStringWidth("abc"), 0);
    EXPECT_EQ(ctx.getMouseButtons(), 0);
}

TEST(Offscreen, FrameConstructorPaintsBackgroundIncludingBorder) {
    COffscreenContext off(static_cast<CFrame*>(nullptr), 30, 20, kRedCColor);
    int red = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) red += off.getPoint(CPoint(x, y)) == kRedCColor;
    EXPECT_EQ(red, 600);
    EXPECT_EQ(off.getWidth(), 30);
}

TEST(Offscreen, CopyFromAndCopyToHonourTheTargetOffset) {
    COffscreenContext src(static_cast<CFrame*>(nullptr), 20, 20, kGreenCColor);
    COffscreenContext dst(static_cast<CFrame*>(nullptr), 50, 50, kBlackCColor);
    dst.offset = CPoint(5, 7);
    src.copyFrom(&dst, CRect(10, 10, 15, 12), CPoint(0, 0));
    EXPECT_EQ(dst.getPoint(CPoint(10, 10)), kGreenCColor);  // device (15, 17)
    dst.offset = CPoint(0, 0);
    EXPECT_EQ(dst.getPoint(CPoint(15, 17)), kGreenCColor);
    EXPECT_EQ(dst.getPoint(CPoint(20, 17)), kBlackCColor);
    EXPECT_EQ(dst.getPoint(CPoint(15, 19)), kBlackCColor);
    CRect from(15, 17, 17, 18);
    COffscreenContext back(static_cast<CFrame*>(nullptr), 4, 4, kBlueCColor);
    back.copyTo(&dst, from, CPoint(1, 1));
    EXPECT_EQ(back.getPoint(CPoint(1, 1)), kGreenCColor);
    EXPECT_EQ(back.getPoint(CPoint(3, 1)), kBlueCColor);
}

// ---- Mouse helpers on the in-memory window system ---------------------------------------------

namespace {
struct NoEvents : platform::WindowEvents {
    void onPaint(platform::Context*, const platform::Rect&) override {}
    void onButtonDown(platform::Context*, platform::Point, int, uint32_t) override {}
    void onDestroyed() override {}
    bool onDrop(platform::DropKind, const char* const*, int32_t, std::size_t,
                platform::Point) override {
        return false;
    }
};

class MouseWindow : public ::testing::Test {
protected:
    void SetUp() override {
        platform::memory::reset();
        host = platform::memory::createHostWindow({100, 200, 400, 500});
        platform::WindowOptions o;
        o.parent = host;
        o.width = 300;
        o.height = 300;
        o.events = &events;
        window = platform::createChildWindow(o);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        platform::destroyWindow(window);
        while (platform::windowClassUseCount() > 0) platform::unregisterWindowClass();
    }
    NoEvents events;
    platform::NativeWindow host = 0;
    platform::Window* window = nullptr;
};
}  // namespace

TEST_F(MouseWindow, LocationIsRelativeToTheWindowsScreenOrigin) {
    CDrawContext ctx(nullptr, nullptr, window);
    platform::memory::setPointer({130, 250});
    CPoint p;
    ctx.getMouseLocation(p);
    EXPECT_EQ(p, CPoint(30, 50));
    ctx.offset = CPoint(10, 10);  // not subtracted
    ctx.getMouseLocation(p);
    EXPECT_EQ(p, CPoint(30, 50));
}

struct ButtonCase {
    uint32_t state;
    bool swapped;
    int32_t expected;
};
class MouseButtons : public MouseWindow, public ::testing::WithParamInterface<ButtonCase> {};
TEST_P(MouseButtons, PhysicalButtonsMapThroughTheSwapSetting) {
    const auto& c = GetParam();
    // The setting is read when the class is first registered.
    platform::memory::setSwappedButtonsSetting(c.swapped);
    platform::registerWindowClass();
    platform::memory::setState(c.state);
    CDrawContext ctx(nullptr, nullptr, window);
    EXPECT_EQ(ctx.getMouseButtons(), c.expected);
    platform::unregisterWindowClass();
}
INSTANTIATE_TEST_SUITE_P(
    Cases, MouseButtons,
    ::testing::Values(ButtonCase{platform::kButtonLeft, false, kMouseLeft},
                      ButtonCase{platform::kButtonLeft, true, kMouseRight},
                      ButtonCase{platform::kButtonRight, true, kMouseLeft},
                      ButtonCase{platform::kButtonMiddle, true, kMouseMiddle},
                      ButtonCase{platform::kButtonRight | platform::kModShift |
                                     platform::kModControl | platform::kModAlt,
                                 false, kMouseRight | kKeyShift | kKeyControl | kKeyAlt}));

TEST_F(MouseWindow, WaitDoubleClickTakesAQueuedSecondPressWithinTheTime) {
    platform::memory::setTicks(1000);
    platform::memory::postButtonDown(window, {5, 5}, 1);
    CDrawContext ctx(nullptr, nullptr, window);
    // The event being handled was taken at tick 0 in this window: the limit has passed.
    EXPECT_FALSE(ctx.waitDoubleClick());
    platform::memory::setTicks(0);
    EXPECT_TRUE(ctx.waitDoubleClick());
    EXPECT_EQ(platform::memory::pendingEvents(window), 0);
    // No second click: waits out the double-click time on the clock, then gives up.
    platform::memory::setTicks(0);
    EXPECT_FALSE(ctx.waitDoubleClick());
    EXPECT_GE(platform::ticks(), 500u);
}

namespace {
// Moves the pointer on the second idle call and, when asked, lets the button go on the fifth.
struct DragOwner : CFrameOwner {
    int calls = 0;
    platform::Point to;
    bool release = false;
    void doIdleStuff() override {
        if (++calls == 2) platform::memory::setPointer(to);
        if (release && calls == 5) platform::memory::setState(0);
    }
    uint32_t getTicks() override { return 0; }
};
}  // namespace

struct DragCase {
    platform::Point to;
    bool dragged;
};
class WaitDrag : public MouseWindow, public ::testing::WithParamInterface<DragCase> {};
TEST_P(WaitDrag, BoxExcludesItsRightAndBottomEdges) {
    DragOwner owner;
    owner.to = GetParam().to;
    owner.release = !GetParam().dragged;
    CFrame frame(CRect(0, 0, 300, 300), reinterpret_cast<void*>(host), &owner);
    ASSERT_NE(frame.getSystemWindow(), nullptr);
    CDrawContext ctx(&frame, nullptr, frame.getSystemWindow());
    platform::memory::setPointer({150, 250});  // (50, 50) in the window
    platform::memory::setState(platform::kButtonLeft);
    EXPECT_EQ(ctx.waitDrag(), GetParam().dragged);
}
INSTANTIATE_TEST_SUITE_P(Cases, WaitDrag,
                         ::testing::Values(DragCase{{152, 250}, true}, DragCase{{147, 250}, true},
                                           DragCase{{150, 252}, true}, DragCase{{150, 247}, true},
                                           DragCase{{151, 251}, false},
                                           DragCase{{148, 248}, false}));

TEST(WaitDragWithoutFrame, AnswersFalse) {
    CDrawContext ctx(nullptr, nullptr, nullptr);
    EXPECT_FALSE(ctx.waitDrag());
}
