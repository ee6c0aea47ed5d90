// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the controls inside a real X server, driven by XTest from a second thread while our
// tracking loop holds the first: circular, linear and Shift-zoom knob drags with the values the
// listener saw and the begin/end edit notices the host recorded; a real click opening the edit box
// over a field with everything selected, typed keys replacing it, Return committing once, a click
// elsewhere committing, the 256th character refused, Escape, CLIPBOARD copy and paste with
// another client, and a host destroying its window while the box is open without an X error.
#include "support/x11_environment.h"

#include "hostkit/recording_host.h"

#include "vst2/aeffguieditor.h"
#include "vst2/corvex.h"
#include "gui/knob.h"
#include "gui/textedit.h"

#include "testkit/x11_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace gui;
namespace xh = testkit::x11host;

namespace {

class Listener : public CControlListener {
public:
    void valueChanged(CDrawContext*, CControl* control) override {
        values.push_back(control->getValue());
        tags.push_back(control->getTag());
    }
    std::vector<float> values;
    std::vector<int32_t> tags;
};

// A knob at (20, 20, 120, 120) tagged 3 and a field at (150, 40, 250, 56) tagged 103.
class ControlsEditor : public AEffGUIEditor {
public:
    ControlsEditor(AudioEffect* effect, Listener* listener)
        : AEffGUIEditor(effect), listener(listener) {
        rect.right = 300;
        rect.bottom = 200;
    }
    int32_t open(void* ptr) override {
        AEffGUIEditor::open(ptr);
        frame = new CFrame(CRect(0, 0, 300, 200), ptr, this);
        auto* panel = new CViewContainer(CRect(0, 0, 300, 200), frame);
        panel->setBackgroundColor(CColor{40, 40, 40, 0});
        frame->addView(panel);
        knob = new CKnob(CRect(20, 20, 120, 120), listener, 3, nullptr, nullptr, CPoint());
        frame->addView(knob);
        field = new CTextEdit(CRect(150, 40, 250, 56), listener, 103, "0.5");
        field->setFontColor(kYellowCColor);
        field->setBackColor(kBlueCColor);
        frame->addView(field);
        return 1;
    }
    void close() override {
        delete frame;
        frame = nullptr;
        knob = nullptr;
        field = nullptr;
    }
    Listener* listener;
    CKnob* knob = nullptr;
    CTextEdit* field = nullptr;
};

class ControlsX11 : public ::testing::Test {
protected:
    void SetUp() override {
        host = xh::create(300, 200, "controls test host");
        ASSERT_NE(host, nullptr) << "no X display";
        effect = new Corvex(hostkit::RecordingHost::callback());
        editor = new ControlsEditor(effect, &listener);
        xh::installHostErrorHandler();
        dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(xh::handle(host)));
        ASSERT_NE(editor->getFrame(), nullptr);
        ASSERT_TRUE(idleUntil([&] { return pixel(200, 100) == 0x282828u; }));
        origin = platform::windowScreenRect(editor->getFrame()->getSystemWindow());
    }
    void TearDown() override {
        if (driver.joinable()) driver.join();
        xh::key("Shift_L", false);
        xh::button(1, false);
        editor->setKnobMode(0);
        dispatch(effEditClose);
        delete effect;
        if (host) xh::destroy(host);
        EXPECT_EQ(xh::hostErrorCount(), 0);
        EXPECT_TRUE(xh::uninstallHostErrorHandler());
    }
    intptr_t dispatch(int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr) {
        return effect->getAeffect()->dispatcher(effect->getAeffect(), op, index, value, ptr, 0.0f);
    }
    template <typename Pred> bool idleUntil(Pred pred) {
        for (int i = 0; i < 300; ++i) {
            dispatch(effEditIdle);
            if (host) xh::pump(host);
            if (pred()) return true;
            platform::sleepMs(10);
        }
        return false;
    }
    uint32_t pixel(int x, int y) {
        std::vector<uint32_t> px;
        int32_t w = 0, h = 0;
        const auto win = platform::nativeHandle(editor->getFrame()->getSystemWindow());
        if (!xh::readPixels(win, &px, &w, &h) || x >= w || y >= h) return 0xFFFFFFFF;
        return px[static_cast<size_t>(y) * w + x];
    }
    // Runs the steps on a second thread (as a person's hand would), paced by pauses.
    void drive(std::function<void()> steps) {
        done = false;
        driver = std::thread([this, steps] {
            steps();
            done = true;
        });
    }
    void move(CPoint p) { xh::movePointer(origin.left + p.x, origin.top + p.y); }
    static void pause() { platform::sleepMs(40); }
    // The frame point where the knob shows value v, 40 pixels from its centre (70, 70).
    static CPoint at(float v) {
        const double a = 3.9269907474517822 - 4.71238899230957 * v;
        return CPoint(70 + static_cast<int32_t>(std::lround(40 * std::cos(a))),
                      70 - static_cast<int32_t>(std::lround(40 * std::sin(a))));
    }
    void clickAt(CPoint p) {
        move(p);
        drive([] {
            xh::button(1, true);
            platform::sleepMs(150);
            xh::button(1, false);
        });
    }
    std::string boxText() {
        char buffer[512];
        platform::editBoxText(editor->field->getEditBox(), buffer, sizeof buffer);
        return buffer;
    }
    void typeKey(const char* name) {
        xh::key(name, true);
        xh::key(name, false);
    }
    void openField() {
        clickAt(CPoint(200, 48));
        ASSERT_TRUE(idleUntil([&] { return editor->field->isEditing() && done; }));
        driver.join();
    }
    int edits(int32_t opcode) const {
        int n = 0;
        for (const hostkit::HostCall& c : recorder.calls) n += c.opcode == opcode && c.index == 3;
        return n;
    }

    hostkit::RecordingHost recorder;
    Listener listener;
    xh::HostWindow* host = nullptr;
    Corvex* effect = nullptr;
    ControlsEditor* editor = nullptr;
    platform::Rect origin;
    std::thread driver;
    std::atomic<bool> done{false};
};

TEST_F(ControlsX11, CircularDragFollowsThePointerAndBracketsTheEdit) {
    move(at(0.5f));
    drive([this] {
        xh::button(1, true);
        pause();
        for (float v : {0.55f, 0.6f, 0.7f, 0.8f}) {
            move(at(v));
            pause();
        }
        xh::button(1, false);
    });
    ASSERT_TRUE(idleUntil([&] { return done.load() && !listener.values.empty(); }));
    EXPECT_NEAR(listener.values.front(), 0.5f, 0.02f);
    EXPECT_NEAR(editor->knob->getValue(), 0.8f, 0.02f);
    EXPECT_EQ(edits(audioMasterBeginEdit), 1);
    EXPECT_EQ(edits(audioMasterEndEdit), 1);
}

TEST_F(ControlsX11, LinearDragAddsTheRangeOverTwoHundredPixels) {
    editor->setKnobMode(2);
    move(CPoint(40, 110));
    drive([this] {
        xh::button(1, true);
        pause();
        move(CPoint(65, 85));
        pause();
        move(CPoint(90, 60));
        pause();
        xh::button(1, false);
    });
    ASSERT_TRUE(idleUntil([&] { return done.load() && !listener.values.empty(); }));
    EXPECT_NEAR(editor->knob->getValue(), 0.5f, 1e-5f);
    EXPECT_EQ(edits(audioMasterBeginEdit), 1);
    EXPECT_EQ(edits(audioMasterEndEdit), 1);
}

TEST_F(ControlsX11, ShiftZoomsTheLinearDrag) {
    editor->setKnobMode(2);
    move(CPoint(40, 110));
    drive([this] {
        xh::key("Shift_L", true);
        xh::button(1, true);
        pause();
        move(CPoint(140, 10));
        pause();
        xh::button(1, false);
        xh::key("Shift_L", false);
    });
    ASSERT_TRUE(idleUntil([&] { return done.load() && !listener.values.empty(); }));
    EXPECT_NEAR(editor->knob->getValue(), 200 * (1.0f / 300.0f), 1e-5f);
    EXPECT_EQ(edits(audioMasterEndEdit), 1);
}

TEST_F(ControlsX11, AReleaseTheLoopNeverSawStillEndsTheDrag) {
    move(at(0.5f));
    drive([] {
        xh::button(1, true);
        platform::sleepMs(100);
        xh::button(1, false);
    });
    ASSERT_TRUE(idleUntil([&] { return done.load() && edits(audioMasterEndEdit) == 1; }));
}

TEST_F(ControlsX11, AClickOpensTheBoxAndTypedKeysReplaceTheText) {
    openField();
    const platform::EditSelection sel = platform::editBoxSelection(editor->field->getEditBox());
    EXPECT_EQ(sel.anchor, 0);
    EXPECT_EQ(sel.caret, 3);
    EXPECT_TRUE(editor->keysRequired());
    // The box sits over the field; its selected text shows in the text colour.
    EXPECT_EQ(xh::childCount(platform::nativeHandle(editor->getFrame()->getSystemWindow())), 1);
    typeKey("7");
    typeKey("period");
    typeKey("2");
    ASSERT_TRUE(idleUntil([&] { return boxText() == "7.2"; })) << boxText();
    typeKey("Return");
    ASSERT_TRUE(idleUntil([&] { return !editor->field->isEditing(); }));
    char text[256];
    editor->field->getText(text);
    EXPECT_STREQ(text, "7.2");
    EXPECT_EQ(listener.tags, std::vector<int32_t>{103});
    EXPECT_FALSE(editor->keysRequired());
    EXPECT_TRUE(idleUntil([&] {
        return xh::childCount(platform::nativeHandle(editor->getFrame()->getSystemWindow())) == 0;
    }));
}

TEST_F(ControlsX11, AClickElsewhereCommits) {
    openField();
    typeKey("3");
    ASSERT_TRUE(idleUntil([&] { return boxText() == "3"; }));
    clickAt(CPoint(200, 150));
    ASSERT_TRUE(idleUntil([&] { return !editor->field->isEditing() && done; }));
    EXPECT_EQ(listener.tags, std::vector<int32_t>{103});
}

TEST_F(ControlsX11, TheBoxRefusesThe256thCharacterAndEscapeCancels) {
    openField();
    platform::EditKeyInput fill;
    const std::string many(255, '1');
    fill.text = many.c_str();
    platform::editBoxKey(editor->field->getEditBox(), fill);
    typeKey("9");
    typeKey("End");
    ASSERT_TRUE(idleUntil(
        [&] { return platform::editBoxSelection(editor->field->getEditBox()).caret == 255; }));
    EXPECT_EQ(boxText(), many);
    typeKey("Escape");
    ASSERT_TRUE(idleUntil([&] { return !editor->field->isEditing(); }));
    char text[256];
    editor->field->getText(text);
    EXPECT_STREQ(text, "0.5");
    EXPECT_TRUE(listener.tags.empty());
}

TEST_F(ControlsX11, CopyAndPasteGoThroughTheClipboard) {
    openField();
    xh::key("Control_L", true);
    typeKey("c");
    xh::key("Control_L", false);
    // The copy is claimed when the box handles Ctrl+C at an idle; asking before that finds no
    // owner at all.
    ASSERT_TRUE(idleUntil([] { return xh::clipboardHasOwner(); }));
    std::string copied;
    std::thread reader([&] { xh::readClipboard(&copied, 3000); });
    idleUntil([&] { return !copied.empty(); });
    reader.join();
    EXPECT_EQ(copied, "0.5");

    xh::ClipboardOwner other("0.125");
    ASSERT_TRUE(other.owns());
    xh::key("Control_L", true);
    typeKey("v");
    xh::key("Control_L", false);
    ASSERT_TRUE(idleUntil([&] {
        other.step();
        return boxText() == "0.125";
    })) << boxText();
}

TEST_F(ControlsX11, AHostDestroyingItsWindowWhileTheBoxIsOpenIsSurvived) {
    openField();
    typeKey("4");
    ASSERT_TRUE(idleUntil([&] { return boxText() == "4"; }));
    xh::destroyWindowOnly(host);
    ASSERT_TRUE(idleUntil([&] { return !editor->getFrame()->getOpenFlag(); }));
    EXPECT_FALSE(editor->field->isEditing());
    dispatch(effEditClose);
}

}  // namespace
