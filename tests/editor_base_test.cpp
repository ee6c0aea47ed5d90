// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the editor base: the update flag, getRect before and after open, the throttled idle
// against a fake clock, the idle guard while the host's idle runs, keys, knob mode and the wheel,
// and the dispatcher's editor opcodes reaching a real effect's editor.
#include "vst2/aeffguieditor.h"
#include "support/test_editor.h"
#include "vst2/corvex.h"

#include "platform/memory_window.h"

#include <gtest/gtest.h>

namespace {

using testsupport::kEditorTestHost;

// A 200 x 100 editor that counts its updates and idle passes.
class TestEditor : public testsupport::TestEditor {
public:
    explicit TestEditor(AudioEffect* effect) : testsupport::TestEditor(effect, 200, 100) {}
    void update() override { ++updates; }
    int updates = 0;
    int idles = 0;
    void idle() override {
        ++idles;
        AEffGUIEditor::idle();
    }
};

class Editor : public ::testing::Test {
protected:
    void SetUp() override {
        platform::memory::reset();
        host = platform::memory::createHostWindow({0, 0, 400, 300});
        effect = new Corvex(kEditorTestHost);
        editor = new TestEditor(effect);  // owned by the effect from here on
    }
    void TearDown() override {
        editor->close();
        delete effect;
    }
    intptr_t dispatch(int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0) {
        return effect->getAeffect()->dispatcher(effect->getAeffect(), op, index, value, ptr, opt);
    }
    platform::NativeWindow host = 0;
    Corvex* effect = nullptr;
    TestEditor* editor = nullptr;
};

}  // namespace

TEST_F(Editor, RegistersItselfAndAnswersItsRectBeforeAndAfterOpen) {
    EXPECT_TRUE(effect->getAeffect()->flags & effFlagsHasEditor);
    ERect* r = nullptr;
    EXPECT_EQ(dispatch(effEditGetRect, 0, 0, &r), 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->right, 200);
    EXPECT_EQ(r->bottom, 100);
    dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host));
    r = nullptr;
    EXPECT_EQ(dispatch(effEditGetRect, 0, 0, &r), 1);
    EXPECT_EQ(r->right, 200);
    dispatch(effEditClose);
    EXPECT_EQ(editor->getFrame(), nullptr);
}

TEST_F(Editor, IdleAfterOpenUpdatesOnceUntilTheNextPostUpdate) {
    dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host));
    dispatch(effEditIdle);
    dispatch(effEditIdle);
    EXPECT_EQ(editor->updates, 1);
    effect->setParameter(3, 0.5f);  // reaches the editor's setParameter: postUpdate
    dispatch(effEditIdle);
    EXPECT_EQ(editor->updates, 2);
}

TEST_F(Editor, DoIdleStuffRunsAFullPassAboutEveryHundredMilliseconds) {
    platform::memory::setTicks(1000);
    dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host));
    editor->doIdleStuff();  // the first call is due at once
    const int first = editor->idles;
    EXPECT_EQ(first, 1);
    // A tracking loop for one simulated second: every call sleeps 4 ms on the fake clock.
    int calls = 0;
    while (platform::ticks() < 2000) {
        editor->doIdleStuff();
        ++calls;
    }
    EXPECT_GE(editor->idles - first, 18);  // at least every 50 ms after the schedule allows
    EXPECT_LE(editor->idles - first, 21);
    EXPECT_GT(calls, 200);
}

TEST_F(Editor, IdleDoesNothingWhileTheHostsIdleRunsFromDoIdleStuff) {
    struct Nested : Corvex {
        using Corvex::Corvex;
        TestEditor* ed = nullptr;
        int nestedUpdates = -1;
        void masterIdle() override {
            if (!ed) return;
            const int before = ed->updates;
            ed->postUpdate();
            ed->AEffGUIEditor::idle();
            nestedUpdates = ed->updates - before;
        }
    };
    auto* fx = new Nested(kEditorTestHost);
    auto* ed = new TestEditor(fx);
    fx->ed = ed;
    ed->doIdleStuff();
    EXPECT_EQ(fx->nestedUpdates, 0);
    delete fx;
}

TEST_F(Editor, KeysWheelAndKnobModeReachTheFrameOnlyWhenOpen) {
    VstKeyCode key{'a', 0, 0};
    EXPECT_EQ(dispatch(effEditKeyDown, 'a', 0, nullptr, 0), -1);
    EXPECT_EQ(editor->onKeyUp(key), -1);
    EXPECT_FALSE(editor->onWheel(1.0f));
    EXPECT_EQ(dispatch(effSetEditKnobMode, 0, 2), 1);
    EXPECT_EQ(AEffGUIEditor::getKnobModeStatic(), 2);
    dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host));
    EXPECT_EQ(editor->getFrame()->getKnobMode(), 2);
    EXPECT_EQ(editor->onKeyDown(key), -1);  // no views: not handled
    // The host's wheel through the vendor-specific request ('stCA', 'Whee').
    EXPECT_EQ(dispatch(effVendorSpecific, fourCharCode('s', 't', 'C', 'A'),
                       fourCharCode('W', 'h', 'e', 'e'), nullptr, 1.0f),
              0);
    editor->setKnobMode(0);
    EXPECT_EQ(editor->getGuiVersion(), 0x20002);
}

TEST_F(Editor, ReopeningBuildsAFreshFrameEachTime) {
    for (int i = 0; i < 3; ++i) {
        dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host));
        ASSERT_NE(editor->getFrame(), nullptr);
        EXPECT_EQ(platform::memory::liveWindows(), 1);
        dispatch(effEditIdle);
        dispatch(effEditClose);
        EXPECT_EQ(platform::memory::liveWindows(), 0);
    }
    EXPECT_EQ(gui::CFrame::windowClassUseCount(), 0);
}

// The host's key codes become the toolkit's at the VST2 face: every code the toolkit acts on, the
// keypad, the modifiers, and any other named key as one the toolkit ignores.
struct KeyCase {
    unsigned char virt;
    gui::CKey key;
};

class HostKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(HostKeys, TranslateToTheToolkitsKeys) {
    const KeyCase c = GetParam();
    VstKeyCode host{'x', c.virt, 0};
    EXPECT_EQ(toToolkitKey(host).key, c.key);
    EXPECT_EQ(toToolkitKey(host).character, 'x');
}

INSTANTIATE_TEST_SUITE_P(
    Vst2, HostKeys,
    ::testing::Values(KeyCase{0, gui::CKey::none}, KeyCase{1, gui::CKey::backspace},
                      KeyCase{4, gui::CKey::returnKey}, KeyCase{6, gui::CKey::escape},
                      KeyCase{7, gui::CKey::space}, KeyCase{9, gui::CKey::end},
                      KeyCase{10, gui::CKey::home}, KeyCase{11, gui::CKey::left},
                      KeyCase{12, gui::CKey::up}, KeyCase{13, gui::CKey::right},
                      KeyCase{14, gui::CKey::down}, KeyCase{19, gui::CKey::enter},
                      KeyCase{22, gui::CKey::del}, KeyCase{24, gui::CKey::keypad0},
                      KeyCase{33, gui::CKey::keypad9}, KeyCase{34, gui::CKey::keypadMultiply},
                      KeyCase{35, gui::CKey::keypadAdd}, KeyCase{37, gui::CKey::keypadSubtract},
                      KeyCase{38, gui::CKey::keypadDecimal}, KeyCase{39, gui::CKey::keypadDivide},
                      KeyCase{2, gui::CKey::unknown}, KeyCase{36, gui::CKey::unknown},
                      KeyCase{255, gui::CKey::unknown}));

TEST(HostKeyModifiers, ShiftAlternateAndBothControlKeys) {
    auto mods = [](unsigned char m) { return toToolkitKey(VstKeyCode{0, 0, m}).modifiers; };
    EXPECT_EQ(mods(0), 0);
    EXPECT_EQ(mods(1), gui::kKeyShift);
    EXPECT_EQ(mods(2), gui::kKeyAlt);
    EXPECT_EQ(mods(4), gui::kKeyControl);
    EXPECT_EQ(mods(8), gui::kKeyControl);
    EXPECT_EQ(mods(1 | 8), gui::kKeyShift | gui::kKeyControl);
}
