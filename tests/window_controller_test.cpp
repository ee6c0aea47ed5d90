// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the window's seam with the faces: a face that knows nothing of VST2 (no host header can
// even be included here: this target links no host layer) drives a core and the window through
// EditController alone. A knob drag reaches the core inside one gesture, a typed value reaches it
// without one, the values shown at open are the core's and open changes none of them, and a value
// the core takes on another thread reaches the knob and its field at the window's next idle. In a
// top-level window of its own, the title is set, and close requests and keys reach the face, keys
// only while no value is being typed.
#include "core/synth.h"
#include "gui/textedit.h"
#include "platform/memory_window.h"
#include "window/corvex_window.h"
#include "window/knob_arc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// A face of the smallest kind: a core, the window, and a log of what the window asked for.
class TestFace : public EditController, public gui::CFrameOwner {
public:
    float getParameter(int32_t index) override { return synth.getParameter(index); }
    void setParameterFromUser(int32_t index, float value) override {
        synth.setParameter(index, value);
        log.push_back("set " + std::to_string(index));
        window.setParameter(index, value);
    }
    void beginGesture(int32_t index) override { log.push_back("begin " + std::to_string(index)); }
    void endGesture(int32_t index) override { log.push_back("end " + std::to_string(index)); }
    void resendValues() override {
        ++resends;
        for (int32_t index = 0; index < kNumParams; ++index)
            window.setParameter(index, synth.getParameter(index));
    }
    // The drag's pointer path, one step per idle granted from the knob's tracking loop.
    void doIdleStuff() override {
        if (step < path.size()) platform::memory::setPointer(path[step++]);
        else platform::memory::setState(0);
    }
    uint32_t getTicks() override { return 0; }
    void onCloseRequest() override { log.push_back("close"); }
    bool onKey(const gui::CKeyCode& key, bool down) override {
        log.push_back(std::string(down ? "down " : "up ") + std::to_string(key.character) + " " +
                      std::to_string(key.scancode) + (key.repeat ? " repeat" : ""));
        return true;
    }
    void onFocusOut() override { log.push_back("focus out"); }

    CorvexSynth synth;
    CorvexWindow window{*this, *this};
    std::vector<std::string> log;
    std::vector<platform::Point> path;
    size_t step = 0;
    int resends = 0;
};

std::string text(gui::CTextEdit* field) {
    char buffer[gui::kTextBufferSize];
    field->getText(buffer);
    return buffer;
}

class WindowController : public ::testing::Test {
protected:
    void SetUp() override {
        platform::memory::reset();
        host = platform::memory::createHostWindow({0, 0, 800, 600});
        ASSERT_TRUE(face.window.open(reinterpret_cast<void*>(host)));
    }
    void TearDown() override { face.window.close(); }

    platform::NativeWindow host = 0;
    TestFace face;
};

}  // namespace

TEST_F(WindowController, OpeningShowsTheCoresValuesAndChangesNone) {
    EXPECT_EQ(face.resends, 1);
    for (int32_t i = 0; i < kNumParams; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(face.synth.getParameter(i), defaultValue(i));
        EXPECT_EQ(face.window.getKnob(i)->getValue(), defaultValue(i));
        EXPECT_EQ(face.window.getLabel(i) != nullptr, true);
    }
    EXPECT_TRUE(face.log.empty()) << "opening sets nothing";
}

TEST_F(WindowController, AKnobDragReachesTheCoreInsideOneGesture) {
    // "LFO Amount" (index 6) turned clockwise over the top, from its left to its right.
    for (int i = 0; i <= 40; ++i) {
        const double a = 3.141592653589793 * (1.0 - i / 40.0);
        face.path.push_back({419 + static_cast<int32_t>(25 * std::cos(a)),
                             175 - static_cast<int32_t>(25 * std::sin(a))});
    }
    platform::Window* window = face.window.getFrame()->getSystemWindow();
    platform::memory::setPointer(face.path[0]);
    platform::memory::setState(platform::kButtonLeft);
    platform::memory::postButtonDown(window, face.path[0], 1);
    face.window.getFrame()->idle();
    ASSERT_GE(face.log.size(), 3u);
    EXPECT_EQ(face.log.front(), "begin 6");
    EXPECT_EQ(face.log.back(), "end 6");
    for (size_t i = 1; i + 1 < face.log.size(); ++i) EXPECT_EQ(face.log[i], "set 6") << i;
    const float value = face.synth.getParameter(6);
    EXPECT_GT(value, 0.8f);
    EXPECT_EQ(face.window.getKnob(6)->getValue(), value);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%0.6f", static_cast<double>(value));
    EXPECT_EQ(text(face.window.getTextField(6)), expected);
}

TEST_F(WindowController, ATypedValueReachesTheCoreWithoutAGesture) {
    gui::CTextEdit* field = face.window.getTextField(9);
    field->setText("0.25");
    face.window.valueChanged(nullptr, field);
    EXPECT_EQ(face.synth.getParameter(9), 0.25f);
    EXPECT_EQ(face.window.getKnob(9)->getValue(), 0.25f);
    for (const std::string& entry : face.log) EXPECT_EQ(entry.rfind("set ", 0), 0u) << entry;
}

TEST_F(WindowController, ACoreChangeFromAnotherThreadReachesTheKnobAtTheNextIdle) {
    std::thread automation([&] {
        face.synth.setParameter(3, 0.25f);
        face.window.setParameter(3, 0.25f);
        face.synth.setParameter(5, 1.0f);
        face.window.setParameter(5, 1.0f);
    });
    automation.join();
    EXPECT_NE(face.window.getKnob(3)->getValue(), 0.25f) << "no view is touched off its thread";
    EXPECT_EQ(face.window.pendingMask(), (1u << 3) | (1u << 5));
    EXPECT_TRUE(face.window.idle());
    EXPECT_EQ(face.window.pendingMask(), 0u);
    EXPECT_EQ(face.window.getKnob(3)->getValue(), 0.25f);
    EXPECT_EQ(text(face.window.getTextField(3)), "0.250000");
    EXPECT_EQ(text(face.window.getTextField(5)), "RANDOM");
    EXPECT_FALSE(face.window.idle()) << "nothing more to show";
}

TEST(WindowOfItsOwn, TitleCloseRequestsAndKeysReachTheFaceWhileNothingIsTyped) {
    platform::memory::reset();
    TestFace face;
    ASSERT_TRUE(face.window.openTopLevel("Corvex \xE2\x80\x94 Aquatic"));
    platform::Window* window = face.window.getFrame()->getSystemWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(platform::memory::windowTitle(window), "Corvex \xE2\x80\x94 Aquatic");
    EXPECT_TRUE(face.window.setTitle("Corvex \xE2\x80\x94 Rain"));
    EXPECT_EQ(platform::memory::windowTitle(window), "Corvex \xE2\x80\x94 Rain");

    platform::KeyEvent z;
    z.character = 'z';
    z.scancode = 44;
    platform::memory::postKey(window, z, true);
    z.repeat = true;
    platform::memory::postKey(window, z, true);
    z.repeat = false;
    platform::memory::postKey(window, z, false);
    platform::memory::postFocusOut(window);
    platform::memory::postCloseRequest(window);
    face.window.getFrame()->idle();
    const std::vector<std::string> expected = {"down 122 44", "down 122 44 repeat", "up 122 44",
                                               "focus out", "close"};
    EXPECT_EQ(face.log, expected);
    EXPECT_NE(face.window.getFrame(), nullptr) << "a close request closes nothing by itself";

    // While a value field's box is open, keys are the box's.
    face.log.clear();
    platform::memory::setPointer({240, 313});
    platform::memory::setState(platform::kButtonLeft);
    platform::memory::postButtonDown(window, {240, 313}, 1);
    face.window.getFrame()->idle();
    platform::memory::setState(0);
    ASSERT_NE(platform::memory::editBoxOf(window), nullptr);
    platform::memory::postKey(window, z, true);
    face.window.getFrame()->idle();
    EXPECT_TRUE(face.log.empty());
    face.window.close();
    EXPECT_EQ(platform::memory::liveWindows(), 0);
}
