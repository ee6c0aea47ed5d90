// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the control base and the rotary knob: the old-value dirty rule, bounce and NaN, double
// clicks on the frame's clock, the angle mapping and its gap, circular and linear drags (gap
// pinning, Shift zoom without a jump, Alt), Control+click without edit notices, wheel and arrow
// keys, and a knob with no range that must not turn NaN into pixel positions. A drag that
// follows the owner's idle calls must give the values the drag's own loop gives, leave the
// thread free between steps, and end its gesture however the frame goes.
#include "support/controls_support.h"

#include "gui/knob.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace gui;
using controls_test::MemoryFrame;
using controls_test::Recorder;
using controls_test::Step;

namespace {

constexpr uint32_t kLeft = platform::kButtonLeft;
constexpr uint32_t kShift = platform::kModShift;

// A knob at (50, 50, 150, 150) in the frame: centre (100, 100), radius 50, tag 7.
class KnobTest : public ::testing::Test {
protected:
    void SetUp() override {
        knob = new CKnob(CRect(50, 50, 150, 150), &listener, 7, nullptr, nullptr, CPoint(0, 0));
        env.frame->addView(knob);
    }
    // The screen point 40 pixels from the centre where the default angles put value v.
    static CPoint at(float v) {
        const double a = 3.9269907474517822 - 4.71238899230957 * v;
        return CPoint(100 + static_cast<int32_t>(std::lround(40 * std::cos(a))),
                      100 - static_cast<int32_t>(std::lround(40 * std::sin(a))));
    }
    void drag(CPoint from, uint32_t state, std::vector<Step> path) {
        env.owner.script = std::move(path);
        env.owner.next = 0;
        env.click(from, state);
    }

    Recorder listener;  // outlives the frame, whose closing may still report a commit
    MemoryFrame env;
    CKnob* knob = nullptr;
};

TEST(ControlDirty, OldValueDecidesAndMinusOneStillMarks) {
    CKnob k(CRect(0, 0, 20, 20), nullptr, 0, nullptr, nullptr, CPoint());
    k.setDirty(false);
    EXPECT_FALSE(k.isDirty());
    k.setValue(0.3f);
    EXPECT_TRUE(k.isDirty());
    k.setOldValue(0.3f);
    EXPECT_FALSE(k.isDirty());
    k.setValue(-1.0f);
    k.setDirty(false);
    k.setDirty(true);
    EXPECT_TRUE(k.isDirty());
    EXPECT_EQ(k.getOldValue(), 0.0f);
    k.setValue(std::numeric_limits<float>::quiet_NaN());
    k.setDirty(false);
    EXPECT_TRUE(k.isDirty()) << "NaN never equals the value last drawn";
}

TEST(ControlDirty, BounceClampsAndLeavesNaNAlone) {
    CKnob k(CRect(0, 0, 20, 20), nullptr, 0, nullptr, nullptr, CPoint());
    k.setValue(1.5f);
    k.bounceValue();
    EXPECT_EQ(k.getValue(), 1.0f);
    k.setValue(-std::numeric_limits<float>::infinity());
    k.bounceValue();
    EXPECT_EQ(k.getValue(), 0.0f);
    k.setValue(std::numeric_limits<float>::quiet_NaN());
    k.bounceValue();
    EXPECT_TRUE(std::isnan(k.getValue()));
}

TEST_F(KnobTest, DoubleClickWindowRunsOnTheFramesClock) {
    EXPECT_GE(knob->getDoubleClickTime(), 250);
    platform::memory::setTicks(1000);
    EXPECT_FALSE(knob->isDoubleClick());
    platform::memory::setTicks(1000 + knob->getDoubleClickTime() - 1);
    EXPECT_TRUE(knob->isDoubleClick());
    EXPECT_FALSE(knob->isDoubleClick()) << "a third click right after starts afresh";
    platform::memory::setTicks(5000);
    EXPECT_FALSE(knob->isDoubleClick());
    platform::memory::setTicks(5000 + knob->getDoubleClickTime());
    EXPECT_FALSE(knob->isDoubleClick()) << "the window is exclusive";
    // Across the 2^31 ms mark of uptime a double click is still one.
    platform::memory::setTicks(0x7FFFFFF0u);
    EXPECT_FALSE(knob->isDoubleClick());
    platform::memory::setTicks(0x80000010u);
    EXPECT_TRUE(knob->isDoubleClick());
}

TEST_F(KnobTest, DefaultAnglesMapTopToHalfAndSplitTheGapAtTheBottom) {
    CPoint top(50, 10);
    EXPECT_NEAR(knob->valueFromPoint(top), 0.5f, 1e-6f);
    CPoint leftOfDown(49, 90), rightOfDown(51, 90);
    EXPECT_EQ(knob->valueFromPoint(leftOfDown), 0.0f);
    EXPECT_EQ(knob->valueFromPoint(rightOfDown), 1.0f);
    CPoint lowerLeft(15, 85), lowerRight(85, 85);  // the two ends of the 270° arc
    EXPECT_NEAR(knob->valueFromPoint(lowerLeft), 0.0f, 1e-5f);
    EXPECT_NEAR(knob->valueFromPoint(lowerRight), 1.0f, 1e-5f);

    CPoint p;
    knob->setValue(0.5f);
    knob->valueToPoint(p);
    EXPECT_EQ(p.x, 50);
    EXPECT_EQ(p.y, 3);  // the inset of a line handle
    knob->setValue(0.0f);
    knob->valueToPoint(p);
    EXPECT_EQ(p.x, 17);
    EXPECT_EQ(p.y, 83);
}

TEST_F(KnobTest, CounterClockwiseRangeSnapsItsGapToo) {
    knob->setStartAngle(-0.7853982f);  // lower right, sweeping counter-clockwise to lower left
    knob->setRangeAngle(4.712389f);
    CPoint leftOfDown(49, 90), rightOfDown(51, 90), top(50, 10);
    EXPECT_EQ(knob->valueFromPoint(rightOfDown), 0.0f);
    EXPECT_EQ(knob->valueFromPoint(leftOfDown), 1.0f);
    EXPECT_NEAR(knob->valueFromPoint(top), 0.5f, 1e-6f);
}

TEST_F(KnobTest, CircularClickAboveTheCentreGivesHalfAndBracketsTheEdit) {
    drag(CPoint(100, 60), kLeft, {});
    ASSERT_FALSE(listener.values.empty());
    EXPECT_NEAR(listener.values[0], 0.5f, 1e-6f);
    EXPECT_EQ(env.owner.edits, (std::vector<std::string>{"begin 7", "end 7"}));
    EXPECT_EQ(env.frame->getEditView(), knob);
}

TEST_F(KnobTest, CircularDragThroughTheGapStaysPinnedUntilHalfWayBack) {
    knob->setValue(0.9f);
    drag(at(0.9f), kLeft,
         {{at(0.95f), kLeft},
          {CPoint(103, 140), kLeft},
          {CPoint(97, 140), kLeft},
          {at(0.1f), kLeft},
          {at(0.3f), kLeft},
          {at(0.45f), kLeft},
          {at(0.55f), kLeft},
          {at(0.55f), 0}});
    ASSERT_GE(listener.values.size(), 8u);
    EXPECT_NEAR(listener.values[0], 0.9f, 0.01f);
    EXPECT_NEAR(listener.values[1], 0.95f, 0.01f);
    for (size_t i = 2; i < 7; ++i) EXPECT_EQ(listener.values[i], 1.0f) << "sample " << i;
    EXPECT_NEAR(listener.values[7], 0.55f, 0.01f);
    EXPECT_NEAR(knob->getValue(), 0.55f, 0.01f);
}

TEST_F(KnobTest, LinearDragAddsTheWholeRangeOverTwoHundredPixels) {
    env.owner.knobMode = 2;
    knob->setMin(-1.0f);
    knob->setMax(1.0f);
    knob->setValue(-1.0f);
    drag(CPoint(100, 100), kLeft, {{CPoint(150, 50), kLeft}, {CPoint(200, 0), kLeft}});
    EXPECT_NEAR(knob->getValue(), 1.0f, 1e-6f);
    ASSERT_GE(listener.values.size(), 2u);
    EXPECT_NEAR(listener.values[1], 0.0f, 1e-6f);
}

TEST_F(KnobTest, LinearDragWithShiftAddsTwoThirds) {
    env.owner.knobMode = 2;
    knob->setMin(-1.0f);
    knob->setMax(1.0f);
    knob->setValue(-1.0f);
    drag(CPoint(100, 100), kLeft | kShift, {{CPoint(200, 0), kLeft | kShift}});
    EXPECT_NEAR(knob->getValue(), -1.0f + 2.0f / 1.5f, 1e-5f);
}

TEST_F(KnobTest, AltTurnsCircularModeLinearAndLinearModeCircular) {
    knob->setValue(0.25f);
    drag(CPoint(100, 100), kLeft | platform::kModAlt,
         {{CPoint(130, 80), kLeft | platform::kModAlt}});
    EXPECT_NEAR(knob->getValue(), 0.5f, 1e-6f);  // 50 pixels of 200

    env.owner.knobMode = 2;
    drag(CPoint(100, 60), kLeft | platform::kModAlt, {});
    EXPECT_NEAR(knob->getValue(), 0.5f, 1e-6f);  // circular: straight above the centre
}

TEST_F(KnobTest, ShiftMidDragChangesSensitivityWithoutAJump) {
    env.owner.knobMode = 2;
    knob->setMin(0.0f);
    knob->setMax(2.0f);
    knob->setValue(0.0f);
    // 40 pixels plain, then Shift held where the pointer stands, then 60 more pixels.
    drag(CPoint(100, 100), kLeft,
         {{CPoint(140, 100), kLeft},
          {CPoint(140, 100), kLeft | kShift},
          {CPoint(200, 100), kLeft | kShift}});
    const float atShift = 40 * (2.0f / 200.0f);
    EXPECT_NEAR(knob->getValue(), atShift + 60 * (2.0f / 300.0f), 1e-5f);
    for (float v : listener.values) EXPECT_LE(v, knob->getValue() + 1e-6f) << "no jump on the way";
}

// The same press and path through a drag's own loop and through idle calls, one step per idle
// (the loop reads the pointer once per idle step too).
struct Played {
    std::vector<float> values;
    std::vector<std::string> edits;
    int idles = 0;
};
Played playBothWays(bool inIdle, int32_t knobMode, CPoint from, uint32_t state,
                    const std::vector<Step>& path) {
    Recorder listener;
    MemoryFrame env;
    env.owner.inIdle = inIdle;
    env.owner.knobMode = knobMode;
    auto* knob = new CKnob(CRect(50, 50, 150, 150), &listener, 7, nullptr, nullptr, CPoint(0, 0));
    knob->setValue(0.9f);
    env.frame->addView(knob);
    env.owner.script = path;
    env.click(from, state);
    Played played;
    if (inIdle) {
        EXPECT_EQ(env.owner.idles, 0) << "the press returns at once";
        size_t next = 0;
        while (env.frame->getTrackingView() && played.idles < 100) {
            const Step step = next < path.size() ? path[next++]
                                                 : Step{path.empty() ? from : path.back().where, 0};
            platform::memory::setPointer({step.where.x, step.where.y});
            platform::memory::setState(step.state);
            env.frame->idle();
            ++played.idles;
        }
        EXPECT_EQ(env.frame->getTrackingView(), nullptr);
    } else {
        played.idles = env.owner.idles;
    }
    played.values = listener.values;
    played.edits = env.owner.edits;
    knob->forget();
    return played;
}

TEST(KnobDragInIdle, GivesTheLoopsValuesAndGestureOneStepPerIdle) {
    const std::vector<Step> gap{{CPoint(140, 100), kLeft}, {CPoint(103, 140), kLeft},
                                {CPoint(97, 140), kLeft},  {CPoint(60, 100), kLeft},
                                {CPoint(100, 60), kLeft},  {CPoint(100, 60), kLeft | kShift},
                                {CPoint(130, 70), 0}};
    for (int32_t mode : {0, 2}) {
        for (uint32_t state : {kLeft, kLeft | platform::kModAlt}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " state " << state);
            const Played loop = playBothWays(false, mode, CPoint(120, 60), state, gap);
            const Played idle = playBothWays(true, mode, CPoint(120, 60), state, gap);
            EXPECT_EQ(idle.values, loop.values);
            EXPECT_EQ(idle.edits, (std::vector<std::string>{"begin 7", "end 7"}));
            EXPECT_EQ(idle.edits, loop.edits);
            EXPECT_EQ(idle.idles, static_cast<int>(gap.size()))
                << "ends at the idle that sees the release";
        }
    }
    // A click: released before the first idle.
    const Played click = playBothWays(true, 0, CPoint(100, 60), kLeft, {});
    EXPECT_EQ(click.values, playBothWays(false, 0, CPoint(100, 60), kLeft, {}).values);
    EXPECT_EQ(click.edits, (std::vector<std::string>{"begin 7", "end 7"}));
}

TEST_F(KnobTest, ADragInIdleIgnoresOtherPressesAndEndsWithTheFrameOrTheView) {
    env.owner.inIdle = true;
    auto* other = new CKnob(CRect(200, 50, 280, 130), &listener, 8, nullptr, nullptr, CPoint());
    env.frame->addView(other);
    other->forget();
    drag(CPoint(100, 60), kLeft, {});
    ASSERT_EQ(env.frame->getTrackingView(), knob);
    // Another press while the button is held (a second button, another view): the drag's.
    platform::memory::setState(kLeft);
    env.click(CPoint(240, 90), kLeft);
    platform::memory::setState(kLeft);
    env.frame->idle();
    EXPECT_EQ(env.frame->getTrackingView(), knob);
    EXPECT_EQ(env.owner.edits, (std::vector<std::string>{"begin 7"}));
    for (int32_t tag : listener.tags) EXPECT_EQ(tag, 7);

    // The view taken away mid-drag: its gesture ends, once.
    knob->remember();
    env.frame->removeView(knob);
    EXPECT_EQ(env.frame->getTrackingView(), nullptr);
    EXPECT_EQ(env.owner.edits, (std::vector<std::string>{"begin 7", "end 7"}));
    knob->forget();
    knob = nullptr;

    // The frame ended mid-drag: the gesture ends towards the owner before it is let go.
    platform::memory::setState(0);
    drag(CPoint(240, 60), kLeft, {});
    ASSERT_EQ(env.frame->getTrackingView(), other);
    env.frame->dispose();
    env.frame = nullptr;
    EXPECT_EQ(env.owner.edits, (std::vector<std::string>{"begin 7", "end 7", "begin 8", "end 8"}));
    platform::memory::setState(0);
}

TEST_F(KnobTest, ControlClickResetsToTheDefaultWithoutEditNotices) {
    knob->setValue(0.9f);
    drag(CPoint(100, 60), kLeft | platform::kModControl, {});
    EXPECT_EQ(knob->getValue(), 0.5f);
    EXPECT_EQ(listener.values, std::vector<float>{0.5f});
    EXPECT_TRUE(env.owner.edits.empty());
    EXPECT_EQ(env.owner.idles, 0);
}

TEST_F(KnobTest, OtherButtonsAndDisabledMouseDoNothing) {
    drag(CPoint(100, 60), platform::kButtonRight, {});
    knob->setMouseEnabled(false);
    CDrawContext c(env.frame, nullptr, env.frame->getSystemWindow());
    platform::memory::setState(kLeft);
    CPoint where(100, 60);
    knob->mouse(&c, where);
    platform::memory::setState(0);
    EXPECT_TRUE(listener.values.empty());
    EXPECT_TRUE(env.owner.edits.empty());
    EXPECT_FALSE(knob->onWheel(&c, where, 1.0f));
}

TEST_F(KnobTest, WheelStepsByTheIncrementAndATenthWithShift) {
    CDrawContext c(env.frame, nullptr, env.frame->getSystemWindow());
    CPoint where(100, 100);
    EXPECT_TRUE(knob->onWheel(&c, where, 1.0f));
    EXPECT_NEAR(knob->getValue(), 0.1f, 1e-7f);
    platform::memory::setState(kShift);
    knob->onWheel(&c, where, 1.0f);
    platform::memory::setState(0);
    EXPECT_NEAR(knob->getValue(), 0.11f, 1e-6f);
    knob->onWheel(&c, where, 30.0f);
    EXPECT_EQ(knob->getValue(), 1.0f);
    knob->onWheel(&c, where, -30.0f);
    EXPECT_EQ(knob->getValue(), 0.0f);
    EXPECT_EQ(listener.withContext, static_cast<int>(listener.values.size()));
}

TEST_F(KnobTest, ArrowKeysStepAndOtherKeysAreNotHandled) {
    knob->setValue(0.5f);
    CKeyCode up{0, CKey::up, 0}, downShift{0, CKey::down, kKeyShift}, right{0, CKey::right, 0},
        left{0, CKey::left, 0}, ret{13, CKey::returnKey, 0};
    EXPECT_EQ(knob->onKeyDown(up), 1);
    EXPECT_NEAR(knob->getValue(), 0.6f, 1e-6f);
    EXPECT_EQ(knob->onKeyDown(downShift), 1);
    EXPECT_NEAR(knob->getValue(), 0.59f, 1e-6f);
    EXPECT_EQ(knob->onKeyDown(right), 1);
    EXPECT_EQ(knob->onKeyDown(left), 1);
    EXPECT_NEAR(knob->getValue(), 0.59f, 1e-6f);
    EXPECT_EQ(knob->onKeyDown(ret), -1);
    EXPECT_EQ(listener.withContext, 0) << "keys bring no context";
    EXPECT_EQ(listener.values.size(), 4u);
}

TEST_F(KnobTest, AKnobWithoutRangeDragsAndDrawsWithoutNaN) {
    knob->setMin(0.5f);
    knob->setMax(0.5f);
    knob->setStartAngle(knob->getStartAngle());
    knob->setValue(0.5f);
    drag(CPoint(100, 60), kLeft, {{CPoint(120, 80), kLeft}, {CPoint(80, 130), kLeft}});
    env.owner.knobMode = 2;
    drag(CPoint(100, 60), kLeft, {{CPoint(180, 20), kLeft}});
    for (float v : listener.values) EXPECT_FALSE(std::isnan(v));
    knob->setValue(std::numeric_limits<float>::quiet_NaN());
    CPoint p;
    knob->valueToPoint(p);
    EXPECT_TRUE(p.x >= 0 && p.x <= 100 && p.y >= 0 && p.y <= 100);
    env.frame->draw(static_cast<CView*>(nullptr));  // draws the handle: must not crash
}

TEST_F(KnobTest, LineHandleIsDrawnWithItsShadow) {
    knob->setValue(0.5f);
    knob->setColorHandle(kWhiteCColor);
    knob->setColorShadowHandle(kRedCColor);
    platform::Bitmap* bmp = platform::createBitmap(200, 200);
    platform::Context* pc = platform::createContext(nullptr);
    platform::selectBitmap(pc, bmp);
    {
        CDrawContext c(nullptr, pc, nullptr);
        knob->draw(&c);
    }
    // Handle from (100, 53) to the centre (100, 100); shadow one pixel left, handle one up.
    EXPECT_EQ(platform::getPixel(pc, {99, 70}), kRedCColor.packed());
    EXPECT_EQ(platform::getPixel(pc, {100, 70}), kWhiteCColor.packed());
    EXPECT_FALSE(knob->isDirty());
    platform::deleteContext(pc);
    platform::deleteBitmap(bmp);
}

}  // namespace
