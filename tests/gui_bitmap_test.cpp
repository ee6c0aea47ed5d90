// SPDX-License-Identifier: GPL-3.0-or-later
// Guards CBitmap: resource 10001 found through the module handle (in this program and in the
// built plug-in), unscaled copies from an offset, the three transparent paths agreeing and
// leaving key-coloured pixels untouched, mask building, constant-alpha blending and reference
// counting.
#include "gui/bitmap.h"
#include "gui/frame.h"

#include "hostkit/plugin.h"
#include "platform/raster.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

using namespace gui;

namespace {

constexpr CColor kDest{30, 90, 30, 0};

COffscreenContext* surface(int w, int h, CColor c) {
    return new COffscreenContext(static_cast<CFrame*>(nullptr), w, h, c);
}

// A 16 x 16 sprite: white (the transparent colour) ground, a red 8 x 8 square at (4, 4).
CBitmap* sprite(CFrame& frame) {
    auto* b = new CBitmap(frame, 16, 16);
    COffscreenContext s(static_cast<CDrawContext*>(nullptr), b, true);
    s.setFillColor(kWhiteCColor);
    s.fillRect(CRect(-1, -1, 16, 16));
    s.setFillColor(kRedCColor);
    s.fillRect(CRect(3, 3, 12, 12));
    return b;
}

struct BoundBlits {
    BoundBlits() {
        pfnAlphaBlend = platform::bindOptionalBlits().alphaBlend;
        pfnTransparentBlt = platform::bindOptionalBlits().transparentBlt;
    }
    ~BoundBlits() {
        pfnAlphaBlend = nullptr;
        pfnTransparentBlt = nullptr;
    }
};

}  // namespace

TEST(Resource10001, LoadsFromThisModuleWithItsDesignedFrame) {
    CBitmap bg(10001);
    ASSERT_TRUE(bg.isLoaded());
    EXPECT_EQ(bg.getWidth(), 600);
    EXPECT_EQ(bg.getHeight(), 350);
    std::unique_ptr<COffscreenContext> s(surface(600, 350, kBlackCColor));
    CRect all(0, 0, 600, 350);
    bg.draw(s.get(), all);
    EXPECT_EQ(s->getPoint(CPoint(0, 0)), (CColor{14, 16, 24, 0}));  // outline
    EXPECT_EQ(s->getPoint(CPoint(599, 349)), (CColor{14, 16, 24, 0}));
    EXPECT_EQ(s->getPoint(CPoint(594, 100)), (CColor{70, 150, 225, 0}));  // lit lip, right
    EXPECT_EQ(s->getPoint(CPoint(5, 100)), (CColor{4, 30, 96, 0}));       // shaded lip, left
    // The frame is symmetric in width: 6 pixels at the sides, 4 at top and bottom.
    EXPECT_NE(s->getPoint(CPoint(4, 100)), s->getPoint(CPoint(5, 100)));
}

TEST(Resource10001, IsEmbeddedInThePluginAndFoundThroughItsHandle) {
    const hostkit::Library plugin(CORVEX_PLUGIN_PATH);
    void* entry = plugin.symbol("main");
    ASSERT_NE(entry, nullptr);
    Dl_info info{};
    ASSERT_NE(dladdr(entry, &info), 0);
    platform::Bitmap* b = platform::loadBitmapResource(info.dli_fbase, 10001);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(platform::bitmapWidth(b), 600);
    EXPECT_EQ(platform::bitmapHeight(b), 350);
    platform::deleteBitmap(b);
    EXPECT_EQ(platform::loadBitmapResource(info.dli_fbase, 10002), nullptr);
    int onTheStack = 0;
    EXPECT_EQ(platform::loadBitmapResource(&onTheStack, 10001), nullptr);
    EXPECT_EQ(platform::loadBitmapResource(nullptr, 10001), nullptr);
}

TEST(CBitmapLoad, MissingResourceIsUnloadedAndDrawsNothing) {
    CBitmap missing(4242);
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_EQ(missing.getWidth(), 0);
    EXPECT_EQ(missing.getHeight(), 0);
    std::unique_ptr<COffscreenContext> s(surface(20, 20, kDest));
    CRect r(0, 0, 20, 20);
    missing.draw(s.get(), r);
    missing.drawAlphaBlend(s.get(), r, CPoint(0, 0), 200);
    missing.drawTransparent(s.get(), r);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(s->getPoint(CPoint(x, y)), kDest);
}

TEST(CBitmapDraw, CopiesTheBlockAtTheSourceOffsetToTheTranslatedRect) {
    CBitmap bg(10001);
    std::unique_ptr<COffscreenContext> whole(surface(600, 350, kBlackCColor));
    CRect all(0, 0, 600, 350);
    bg.draw(whole.get(), all);
    std::unique_ptr<COffscreenContext> s(surface(100, 100, kDest));
    s->offset = CPoint(3, 4);
    CRect r(10, 10, 70, 70);
    bg.draw(s.get(), r, CPoint(0, 120));
    s->offset = CPoint(0, 0);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x)
            ASSERT_EQ(s->getPoint(CPoint(13 + x, 14 + y)), whole->getPoint(CPoint(x, 120 + y)));
    EXPECT_EQ(s->getPoint(CPoint(12, 14)), kDest);
    EXPECT_EQ(s->getPoint(CPoint(73, 14)), kDest);
}

// Path 0: precomputed mask; 1: TransparentBlt; 2: mask built on the fly.
class TransparentPaths : public ::testing::TestWithParam<int> {
protected:
    void draw(CBitmap& b, COffscreenContext* target, CRect r) {
        BoundBlits bound;
        if (GetParam() == 0) {
            std::unique_ptr<COffscreenContext> scratch(
                surface(b.getWidth(), b.getHeight(), kBlackCColor));
            CRect all(0, 0, b.getWidth(), b.getHeight());
            b.draw(scratch.get(), all);
            b.setTransparencyMask(scratch.get());
            ASSERT_NE(b.getMask(), nullptr);
        }
        if (GetParam() == 2) pfnTransparentBlt = nullptr;
        b.drawTransparent(target, r);
    }
};

TEST_P(TransparentPaths, KeyColouredPixelsStayUntouched) {
    CFrame frame(CRect(0, 0, 1, 1), nullptr, nullptr);
    std::unique_ptr<CBitmap> b(sprite(frame));
    std::unique_ptr<COffscreenContext> s(surface(40, 40, kDest));
    s->offset = CPoint(2, 1);
    draw(*b, s.get(), CRect(10, 10, 26, 26));
    s->offset = CPoint(0, 0);
    int red = 0, dest = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const CColor c = s->getPoint(CPoint(x, y));
            if (c == kRedCColor) {
                ++red;
                EXPECT_TRUE(x >= 16 && x < 24 && y >= 15 && y < 23) << x << "," << y;
            } else {
                ++dest;
                EXPECT_EQ(c, kDest) << x << "," << y;
            }
        }
    EXPECT_EQ(red, 64);
}

TEST_P(TransparentPaths, AllTransparentBitmapLeavesDestinationUnchanged) {
    CFrame frame(CRect(0, 0, 1, 1), nullptr, nullptr);
    CBitmap b(frame, 16, 16);
    {
        COffscreenContext s(static_cast<CDrawContext*>(nullptr), &b, true);
        s.setFillColor(kWhiteCColor);
        s.fillRect(CRect(-1, -1, 16, 16));
    }
    std::unique_ptr<COffscreenContext> s(surface(20, 20, kDest));
    draw(b, s.get(), CRect(0, 0, 16, 16));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(s->getPoint(CPoint(x, y)), kDest);
}

INSTANTIATE_TEST_SUITE_P(Paths, TransparentPaths, ::testing::Values(0, 1, 2));

TEST(CBitmapMask, OldMaskStaysInUseAfterSetTransparentColor) {
    CFrame frame(CRect(0, 0, 1, 1), nullptr, nullptr);
    std::unique_ptr<CBitmap> b(sprite(frame));
    std::unique_ptr<COffscreenContext> scratch(surface(16, 16, kBlackCColor));
    CRect all(0, 0, 16, 16);
    b->draw(scratch.get(), all);
    b->setTransparencyMask(scratch.get());
    b->setTransparentColor(kRedCColor);  // the mask still says white is transparent
    std::unique_ptr<COffscreenContext> s(surface(16, 16, kDest));
    b->drawTransparent(s.get(), all);
    EXPECT_EQ(s->getPoint(CPoint(0, 0)), kDest);
    EXPECT_EQ(s->getPoint(CPoint(8, 8)), kRedCColor);
}

TEST(CreateMaskBitmap, OneWhereTheContextShowsTheColourIgnoringOffset) {
    std::unique_ptr<COffscreenContext> s(surface(10, 10, kBlackCColor));
    s->drawPoint(CPoint(2, 3), kYellowCColor);
    s->drawPoint(CPoint(5, 5), kYellowCColor);
    s->offset = CPoint(50, 50);  // must not matter
    CRect r(1, 2, 6, 6);
    platform::Bitmap* mask = CreateMaskBitmap(s.get(), r, kYellowCColor);
    ASSERT_NE(mask, nullptr);
    EXPECT_TRUE(platform::bitmapIsMono(mask));
    EXPECT_EQ(platform::bitmapWidth(mask), 5);
    platform::Context* mc = platform::createContext(nullptr);
    platform::selectBitmap(mc, mask);
    int ones = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) ones += platform::getPixel(mc, {x, y}) == 0xFFFFFF;
    EXPECT_EQ(ones, 2);
    EXPECT_EQ(platform::getPixel(mc, {1, 1}), 0xFFFFFFu);
    EXPECT_EQ(platform::getPixel(mc, {4, 3}), 0xFFFFFFu);
    platform::deleteContext(mc);
    platform::deleteBitmap(mask);
    // The context's background colour is handed back.
    EXPECT_EQ(platform::getBkColor(s->getSystemContext()), kBlackCColor.packed());
}

TEST(CBitmapAlpha, BlendsWithConstantAlphaOnlyWhenBound) {
    CFrame frame(CRect(0, 0, 1, 1), nullptr, nullptr);
    std::unique_ptr<CBitmap> b(sprite(frame));
    std::unique_ptr<COffscreenContext> s(surface(16, 16, CColor{0, 0, 200, 0}));
    CRect all(0, 0, 16, 16);
    pfnAlphaBlend = nullptr;  // as on a system without the operation (a frame binds it)
    b->drawAlphaBlend(s.get(), all, CPoint(0, 0), 128);
    EXPECT_EQ(s->getPoint(CPoint(8, 8)), (CColor{0, 0, 200, 0}));
    BoundBlits bound;
    b->drawAlphaBlend(s.get(), all, CPoint(0, 0), 128);
    // red (255, 0, 0) over (0, 0, 200) at 128/255
    EXPECT_EQ(s->getPoint(CPoint(8, 8)), (CColor{128, 0, 100, 0}));
    b->drawAlphaBlend(s.get(), all, CPoint(0, 0), 0);
    EXPECT_EQ(s->getPoint(CPoint(8, 8)), (CColor{128, 0, 100, 0}));
    b->drawAlphaBlend(s.get(), all, CPoint(0, 0), 255);
    EXPECT_EQ(s->getPoint(CPoint(8, 8)), kRedCColor);
}

TEST(CBitmapReferences, RememberThenTwoForgetsDestroyAtTheSecond) {
    auto* b = new CBitmap(10001);
    b->remember();
    EXPECT_EQ(b->getNbReference(), 2);
    b->forget();
    EXPECT_EQ(b->getNbReference(), 1);
    b->forget();  // destroyed here; the sanitizer build reports any later use or a leak
}
