// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the parameter display: the default look, each style bit drawn pixel for pixel, the
// precedence of the string converts, NaN and oversized conversions that must neither print garbage
// nor overrun the draw buffer, and setters that mark the display dirty only on a change.
#include "gui/paramdisplay.h"

#include "gui/drawcontext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

using namespace gui;

namespace {

constexpr CColor kBack{0, 0, 80, 0};
constexpr CColor kFrame{0, 200, 0, 0};
constexpr CColor kPaper{30, 30, 30, 0};

// A 100 x 50 surface painted kPaper, with a display at (10, 10, 60, 30).
class ParamDisplayDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        bmp = platform::createBitmap(100, 50);
        pc = platform::createContext(nullptr);
        platform::selectBitmap(pc, bmp);
        clear();
    }
    void TearDown() override {
        platform::deleteContext(pc);
        platform::deleteBitmap(bmp);
    }
    void clear() {
        platform::Brush* b = platform::createSolidBrush(kPaper.packed());
        platform::fillRect(pc, {0, 0, 100, 50}, b);
        platform::deleteBrush(b);
    }
    void draw(CParamDisplay& d) {
        CDrawContext c(nullptr, pc, nullptr);
        d.draw(&c);
    }
    uint32_t at(int x, int y) { return platform::getPixel(pc, {x, y}); }
    // How many pixels inside the display's interior have colour c.
    int count(CColor c) {
        int n = 0;
        for (int y = 11; y < 30; ++y)
            for (int x = 11; x < 60; ++x) n += at(x, y) == c.packed();
        return n;
    }
    // The pixels of text drawn as displays draw it, over back (the text is antialiased).
    std::string render(const char* text, CColor back = kBlackCColor) {
        clear();
        CDrawContext c(nullptr, pc, nullptr);
        c.setFillColor(back);
        c.fillRect(CRect(10, 10, 60, 30));
        c.setFont(kFontNormal, 0, 0);
        c.setFontColor(kWhiteCColor);
        c.drawString(text, CRect(10, 10, 60, 30), 0, kAlignCenter);
        return snapshot();
    }
    std::string snapshot() {
        std::string s;
        for (int y = 11; y < 30; ++y)
            for (int x = 11; x < 60; ++x) s += std::to_string(at(x, y)) + ",";
        return s;
    }
    // Pixels of the interior that are neither the paper, the back colour nor black.
    int ink() {
        int n = 0;
        for (int y = 11; y < 30; ++y)
            for (int x = 11; x < 60; ++x) {
                const uint32_t p = at(x, y);
                n += p != kPaper.packed() && p != kBack.packed() && p != kBlackCColor.packed();
            }
        return n;
    }
    int reddish() {
        int n = 0;
        for (int y = 11; y < 30; ++y)
            for (int x = 11; x < 60; ++x) {
                const uint32_t p = at(x, y);
                n += (p & 0xFF) > ((p >> 8) & 0xFF) + 60;
            }
        return n;
    }

    platform::Bitmap* bmp = nullptr;
    platform::Context* pc = nullptr;
};

CParamDisplay* make(int32_t style) {
    auto* d = new CParamDisplay(CRect(10, 10, 60, 30), nullptr, style);
    d->setBackColor(kBack);
    d->setFrameColor(kFrame);
    return d;
}

TEST_F(ParamDisplayDrawing, StyleZeroShowsTheValueCentredInAnOutlinedBox) {
    CParamDisplay d(CRect(10, 10, 60, 30), nullptr, 0);
    EXPECT_TRUE(d.isDirty());
    draw(d);
    EXPECT_FALSE(d.isDirty());
    EXPECT_EQ(at(10, 10), kBlackCColor.packed());  // outline in the frame colour (black)
    EXPECT_EQ(at(60, 30), kBlackCColor.packed());
    EXPECT_EQ(at(61, 31), kPaper.packed());
    const std::string drawn = snapshot();
    EXPECT_GT(ink(), 0);
    EXPECT_EQ(drawn, render("0.00"));
}

TEST_F(ParamDisplayDrawing, BorderStylesPaintTheirEdgesInOppositeColours) {
    for (int32_t style : {k3DIn, k3DOut}) {
        clear();
        CParamDisplay* d = make(style);
        draw(*d);
        const CColor first = style == k3DIn ? kBack : kFrame,
                     second = style == k3DIn ? kFrame : kBack;
        EXPECT_EQ(at(10, 20), first.packed()) << style;   // left edge
        EXPECT_EQ(at(35, 10), first.packed()) << style;   // top edge
        EXPECT_EQ(at(60, 10), first.packed()) << style;   // the top line reaches right + 1
        EXPECT_EQ(at(60, 20), second.packed()) << style;  // right edge
        EXPECT_EQ(at(35, 30), second.packed()) << style;  // bottom edge
        d->forget();
    }
}

TEST_F(ParamDisplayDrawing, NoTextStyleDrawsOnlyTheBoxAndNoDrawStyleNothing) {
    CParamDisplay* d = make(kNoTextStyle);
    d->setValue(0.42f);
    draw(*d);
    EXPECT_EQ(count(kBack), 49 * 19);
    EXPECT_EQ(at(10, 10), kFrame.packed());
    d->forget();

    clear();
    CParamDisplay* none = make(kNoDrawStyle);
    none->setDirty(false);
    CParamDisplay fresh(CRect(10, 10, 60, 30), nullptr, kNoDrawStyle);
    EXPECT_FALSE(fresh.isDirty());
    draw(*none);
    EXPECT_EQ(count(kPaper), 49 * 19);
    EXPECT_EQ(at(10, 10), kPaper.packed());
    none->forget();
}

TEST_F(ParamDisplayDrawing, ShadowTextIsDrawnFirstOnePixelDownRight) {
    CParamDisplay* d = make(kShadowText);
    d->setShadowColor(kRedCColor);
    draw(*d);
    const int withShadow = reddish();
    EXPECT_GT(withShadow, 0);
    d->setStyle(0);
    draw(*d);
    EXPECT_EQ(reddish(), 0);
    d->forget();
}

TEST_F(ParamDisplayDrawing, TransparentDisplayWithoutBitmapDrawsOnlyText) {
    CParamDisplay* d = make(0);
    d->setTransparency(true);
    draw(*d);
    EXPECT_EQ(at(10, 10), kPaper.packed());
    EXPECT_EQ(count(kBack), 0);
    EXPECT_GT(ink(), 0);
    d->forget();
}

void convertPlain(float, char* text) { std::strcpy(text, "plain"); }
void convertData(float, char* text, void* data) {
    std::strcpy(text, static_cast<const char*>(data));
}
void convertHuge(float, char* text) {
    // 1000 bytes: a careless converter; the draw buffer must not be what it writes into.
    std::memset(text, 'W', 1000);
    text[1000] = '\0';
}

TEST_F(ParamDisplayDrawing, ConvertWithDataWinsOverThePlainOne) {
    CParamDisplay d(CRect(10, 10, 60, 30), nullptr, 0);
    d.setStringConvert(&convertPlain);
    draw(d);
    EXPECT_EQ(snapshot(), render("plain"));
    char data[] = "data";
    d.setStringConvert(&convertData, data);
    d.setDirty(true);
    draw(d);
    EXPECT_EQ(snapshot(), render("data"));
}

TEST_F(ParamDisplayDrawing, NaNShowsNanAndHugeConversionsAreCut) {
    CParamDisplay d(CRect(10, 10, 60, 30), nullptr, 0);
    d.setValue(std::numeric_limits<float>::quiet_NaN());
    d.bounceValue();
    draw(d);
    EXPECT_EQ(snapshot(), render("nan"));
    d.setStringConvert(&convertHuge);
    draw(d);  // must neither crash nor overrun (the sanitizer build checks)
    EXPECT_EQ(snapshot(), render(std::string(255, 'W').c_str()));
}

TEST(ParamDisplaySetters, MarkDirtyOnlyWhenTheValueChanges) {
    CParamDisplay d(CRect(0, 0, 10, 10), nullptr, 0);
    auto check = [&](auto&& set, const char* what) {
        d.setDirty(false);
        set();
        EXPECT_TRUE(d.isDirty()) << what;
        d.setDirty(false);
        set();
        EXPECT_FALSE(d.isDirty()) << what << " again";
    };
    check([&] { d.setFontColor(kRedCColor); }, "font colour");
    check([&] { d.setBackColor(kGreyCColor); }, "back colour");
    check([&] { d.setFrameColor(kBlueCColor); }, "frame colour");
    check([&] { d.setShadowColor(kGreenCColor); }, "shadow colour");
    check([&] { d.setFont(kFontSmaller); }, "font");
    check([&] { d.setTxtFace(kStyleBold); }, "face");
    check([&] { d.setHoriAlign(kAlignLeft); }, "alignment");
    check([&] { d.setStyle(k3DIn); }, "style");
    // Colours that differ only in the reserved byte are the same colour.
    d.setDirty(false);
    d.setFontColor(CColor{255, 0, 0, 9});
    EXPECT_FALSE(d.isDirty());
}

TEST(CutAtCharacter, NeverLeavesHalfACharacter) {
    char text[8] = "ab\xC3\xA9"
                   "cd";  // "abécd": é is two bytes at offsets 2-3
    cutAtCharacter(text, 3);
    EXPECT_STREQ(text, "ab");
    char fits[8] = "abc";
    cutAtCharacter(fits, 3);
    EXPECT_STREQ(fits, "abc");
}

}  // namespace
