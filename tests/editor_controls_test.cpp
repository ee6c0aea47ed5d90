// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the arc knob's and the label's pixels on an in-memory surface: an arc that starts in the
// wrong place or runs the wrong way, a value arc drawn at the minimum, rings of the wrong width,
// round instead of square ends; a label box, outline or text out of place; drop texts that are
// wrong or written past the label's 256 bytes.
#include "window/knob_arc.h"
#include "window/label.h"
#include "gui/drawcontext.h"

#include "platform/raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

using gui::CPoint;
using gui::CRect;

namespace {

constexpr uint32_t kBack = 0x8C0000, kArc = 0xFAF000, kGrey = 0x464646;

// A 60 x 60 knob drawn at (20, 10) on a fresh 100 x 80 surface.
class ArcKnob : public ::testing::Test {
protected:
    void SetUp() override {
        bitmap = platform::createBitmap(100, 80);
        dc = platform::createContext(nullptr);
        platform::selectBitmap(dc, bitmap);
        context = new gui::CDrawContext(nullptr, dc, nullptr);
    }
    void TearDown() override {
        delete context;
        platform::deleteContext(dc);
        platform::deleteBitmap(bitmap);
    }
    void drawAt(float value) {
        CKnobArc knob(CRect(20, 10, 80, 70), nullptr, 0, kBack, kArc, CPoint(0, 0));
        knob.setValue(value);
        knob.draw(context);
        EXPECT_FALSE(knob.isDirty());
    }
    // The pixel at distance r from the knob's centre (30, 30) and angle a (degrees, counter-
    // clockwise from the right, y up).
    uint32_t at(double r, double degrees) {
        const double a = degrees * 3.141592653589793 / 180.0;
        const int32_t x = static_cast<int32_t>(std::floor(30.0 + r * std::cos(a)));
        const int32_t y = static_cast<int32_t>(std::floor(30.0 - r * std::sin(a)));
        return platform::getPixel(dc, {20 + x, 10 + y});
    }
    uint32_t pixel(int32_t x, int32_t y) { return platform::getPixel(dc, {20 + x, 10 + y}); }

    platform::Bitmap* bitmap = nullptr;
    platform::Context* dc = nullptr;
    gui::CDrawContext* context = nullptr;
};

TEST_F(ArcKnob, AtTheMinimumOnlyTheGreyTrackShows) {
    drawAt(0.0f);
    for (double a = 215; a >= -35; a -= 10) EXPECT_EQ(at(14, a), kGrey) << a;
    for (int32_t y = 0; y < 60; ++y)
        for (int32_t x = 0; x < 60; ++x)
            EXPECT_LE((pixel(x, y) >> 8) & 0xFF, 0x46u) << x << "," << y;
    EXPECT_EQ(pixel(0, 0), kBack);
    EXPECT_EQ(pixel(30, 30), kBack);
    EXPECT_EQ(platform::getPixel(dc, {19, 40}), 0u) << "nothing outside the view";
    EXPECT_EQ(platform::getPixel(dc, {80, 40}), 0u);
}

TEST_F(ArcKnob, AtTheMaximumTheValueArcCoversTheWholeTrack) {
    drawAt(1.0f);
    for (double a = 220; a >= -40; a -= 10) EXPECT_EQ(at(14, a), kArc) << a;
    EXPECT_EQ(at(14, 270), kBack) << "the gap at the bottom stays empty";
}

TEST_F(ArcKnob, AtHalfTheValueArcEndsStraightAboveTheCentre) {
    drawAt(0.5f);
    EXPECT_EQ(pixel(29, 16), kArc);
    EXPECT_EQ(pixel(30, 16), kGrey);
    EXPECT_EQ(at(14, 180), kArc) << "it came from the left: clockwise from the lower left";
    EXPECT_EQ(at(14, 0), kGrey);
}

TEST_F(ArcKnob, TrackAndValueRingsHaveTheirWidthsAndSquareEnds) {
    drawAt(1.0f);
    // Straight up from the centre (30, 30): rows 11..20 at 4x are 76..79 -> distance 41..44 etc.
    EXPECT_EQ(pixel(30, 10), kBack);  // 18.x-20: outside
    EXPECT_EQ(pixel(30, 13), kGrey);  // 16-17: the track's outer rim
    EXPECT_EQ(pixel(30, 15), kArc);   // 14-15
    EXPECT_EQ(pixel(30, 17), kArc);   // 12-13
    EXPECT_EQ(pixel(30, 19), kGrey);  // 10-11: the track's inner rim
    EXPECT_EQ(pixel(30, 21), kBack);  // 8-9: inside the ring
    // Square ends: 13° past either end (3 pixels at radius 14) is background; a round cap of the
    // track's 4-pixel half width would reach there.
    EXPECT_EQ(at(14, 238), kBack);
    EXPECT_EQ(at(14, -58), kBack);
    EXPECT_EQ(at(14, 218), kArc);
    EXPECT_EQ(at(14, -38), kArc);
}

TEST_F(ArcKnob, NothingIsKeptBetweenDrawings) {
    drawAt(1.0f);
    drawAt(0.0f);
    EXPECT_EQ(at(14, 180), kGrey) << "the second drawing starts from a fresh surface";
}

TEST_F(ArcKnob, ANullContextOrANaNValueIsHarmless) {
    CKnobArc knob(CRect(20, 10, 80, 70), nullptr, 0, kBack, kArc, CPoint(0, 0));
    knob.setDirty(true);
    knob.draw(nullptr);
    EXPECT_FALSE(knob.isDirty());
    knob.setValue(std::nanf(""));
    knob.draw(context);
    EXPECT_EQ(at(14, 180), kGrey);
}

TEST(Label, DrawsAFilledOutlinedBoxWithCentredText) {
    platform::Bitmap* bitmap = platform::createBitmap(120, 30);
    platform::Context* dc = platform::createContext(nullptr);
    platform::selectBitmap(dc, bitmap);
    {
        gui::CDrawContext context(nullptr, dc, nullptr);
        CLabel label(CRect(10, 5, 95, 17), "Attack");
        label.setFont(gui::kFontSmaller);
        label.setFontColor(gui::kBlackCColor);
        label.setBackColor(gui::CColor{160, 160, 160, 0});
        label.draw(&context);
        EXPECT_TRUE(label.isDirty()) << "draw leaves the dirty state to update";
    }
    EXPECT_EQ(platform::getPixel(dc, {10, 5}), 0u);  // outline
    EXPECT_EQ(platform::getPixel(dc, {95, 17}), 0u);
    EXPECT_EQ(platform::getPixel(dc, {12, 7}), 0xA0A0A0u);  // fill
    EXPECT_EQ(platform::getPixel(dc, {93, 15}), 0xA0A0A0u);
    // The text's dark pixels are centred in the box.
    int32_t left = 1000, right = -1;
    for (int32_t y = 6; y < 17; ++y)
        for (int32_t x = 11; x < 95; ++x)
            if ((platform::getPixel(dc, {x, y}) & 0xFF) < 0x60) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(right, left);
    EXPECT_NEAR((left + right) / 2.0, (10 + 95) / 2.0, 1.5);
    platform::deleteContext(dc);
    platform::deleteBitmap(bitmap);
}

TEST(Label, DropsOfFilesShowCountFirstNameAndPosition) {
    CLabel label(CRect(100, 50, 185, 62), "Decay");
    const char* files[] = {"/tmp/a.wav", "/tmp/b.wav"};
    CPoint where(110, 55);
    label.setDirty(false);
    EXPECT_TRUE(label.onDrop(reinterpret_cast<void**>(const_cast<char**>(files)), 2,
                             gui::kDropFiles, where));
    EXPECT_STREQ(label.getLabel(), "2 : /tmp/a.wav at 10");
    EXPECT_TRUE(label.isDirty());
    const char* textItem[] = {"some text"};
    EXPECT_TRUE(label.onDrop(reinterpret_cast<void**>(const_cast<char**>(textItem)), 10,
                             gui::kDropText, where));
    EXPECT_TRUE(label.onDrop(reinterpret_cast<void**>(const_cast<char**>(files)), 0,
                             gui::kDropFiles, where));
    EXPECT_TRUE(label.onDrop(nullptr, 1, gui::kDropFiles, where));  // a host's broken list
    EXPECT_STREQ(label.getLabel(), "1 :  at 10");
}

TEST(Label, LongTextsAreCutAtACharacterBoundaryWithinTheField) {
    CLabel label(CRect(0, 0, 85, 12), nullptr);
    EXPECT_STREQ(label.getLabel(), "");
    // 254 ASCII bytes then a two-byte character that would straddle the 255-byte limit.
    std::string text(254, 'a');
    text += "\xC3\xA9tail";
    label.setLabel(text.c_str());
    EXPECT_EQ(std::strlen(label.getLabel()), 254u);
    std::string path = "/" + std::string(5000, 'x') + ".wav";
    const char* files[] = {path.c_str()};
    CPoint where(3, 0);
    label.onDrop(reinterpret_cast<void**>(const_cast<char**>(files)), 1, gui::kDropFiles, where);
    EXPECT_EQ(std::strlen(label.getLabel()), 255u);
    EXPECT_EQ(std::string(label.getLabel()).substr(0, 5), "1 : /");
    label.setDirty(false);
    label.setLabel(nullptr);
    EXPECT_EQ(std::strlen(label.getLabel()), 255u) << "no text keeps the old one";
    EXPECT_TRUE(label.isDirty());
}

}  // namespace
