// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the Corvex window on the in-memory window system, built as the plug-in builds it (the
// factory pairs the real effect and editor): views missing, misplaced or out of order; controls
// that do not show the program, the "LFO Phase" text, typed values that miss the knob or the
// effect or escape 0-1; host changes lost while closed or shown from the wrong thread; stale trees
// after reopening; keys the host must send while a field is being edited.
#include "vst2/corvex_editor.h"
#include "window/knob_arc.h"
#include "window/label.h"
#include "gui/bitmap.h"
#include "gui/frame.h"
#include "gui/textedit.h"
#include "plugin/plugin_factory.h"

#include "platform/memory_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using gui::CRect;

namespace {

// The pointer path of a drag, one step per host idle the editor grants from its tracking loop.
std::vector<platform::Point> gPath;
size_t gStep = 0;
std::vector<std::string> gEdits;

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float) {
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterBeginEdit: gEdits.push_back("begin " + std::to_string(index)); return 1;
    case audioMasterEndEdit: gEdits.push_back("end " + std::to_string(index)); return 1;
    case audioMasterIdle:
        if (gStep < gPath.size()) {
            platform::memory::setPointer(gPath[gStep++]);
        } else {
            platform::memory::setState(0);  // the path is over: the button goes up
        }
        return 0;
    default: return 0;
    }
}

std::string text(gui::CTextEdit* field) {
    char buffer[gui::kTextBufferSize];
    field->getText(buffer);
    return buffer;
}

std::string format(float v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%0.6f", static_cast<double>(v));
    return buffer;
}

bool sameRect(const CRect& r, int32_t l, int32_t t, int32_t rr, int32_t b) {
    return r.left == l && r.top == t && r.right == rr && r.bottom == b;
}

class CorvexEditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        gPath.clear();
        gStep = 0;
        gEdits.clear();
        platform::memory::reset();
        host = platform::memory::createHostWindow({0, 0, 800, 600});
        AudioEffect* made = createEffectInstance(&hostCallback);
        ASSERT_NE(made, nullptr);
        record = made->getAeffect();
        editor = dynamic_cast<CorvexEditor*>(made->getEditor());
        ASSERT_NE(editor, nullptr);
        dispatch(effOpen);
    }
    void TearDown() override {
        dispatch(effEditClose);
        dispatch(effClose);
    }
    intptr_t dispatch(int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0) {
        return record->dispatcher(record, op, index, value, ptr, opt);
    }
    void open() { ASSERT_EQ(dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1); }
    float parameter(int32_t i) { return record->getParameter(record, i); }
    void setParameter(int32_t i, float v) { record->setParameter(record, i, v); }
    gui::CFrame* frame() { return editor->getFrame(); }
    platform::Window* window() { return frame()->getSystemWindow(); }

    // A click inside the window, then typed text and Return in the box it opened.
    void typeInto(int32_t index, const char* typed) {
        gui::CTextEdit* field = editor->getTextField(index);
        CRect r;
        field->getViewSize(r);
        const platform::Point at{r.left + 5, r.top + 5};
        platform::memory::setPointer(at);
        platform::memory::setState(platform::kButtonLeft);
        platform::memory::postButtonDown(window(), at, 1);
        dispatch(effEditIdle);
        platform::memory::setState(0);
        platform::EditBox* box = platform::memory::editBoxOf(window());
        ASSERT_NE(box, nullptr);
        platform::memory::editBoxType(box, typed);
        platform::EditKeyInput ret;
        ret.key = platform::EditKey::returnKey;
        platform::editBoxKey(box, ret);
    }

    platform::NativeWindow host = 0;
    AEffect* record = nullptr;
    CorvexEditor* editor = nullptr;
};

struct Expected {
    int32_t tag;
    int32_t l, t, r, b;
};

TEST_F(CorvexEditorWindow, FortyFourViewsInOrderWhereTheTablesPutThem) {
    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right, 600);
    EXPECT_EQ(rect->bottom, 350);
    EXPECT_EQ(record->flags & effFlagsHasEditor, effFlagsHasEditor);
    open();
    EXPECT_EQ(dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->right, 600);
    ASSERT_EQ(frame()->getNbViews(), 45);
    CRect r;
    frame()->getViewSize(r);
    EXPECT_TRUE(sameRect(r, 0, 0, 600, 350));
    ASSERT_NE(frame()->getBackground(), nullptr);
    EXPECT_EQ(frame()->getBackground()->getWidth(), 600);

    auto* panel = dynamic_cast<gui::CViewContainer*>(frame()->getView(0));
    ASSERT_NE(panel, nullptr);
    panel->getViewSize(r);
    EXPECT_TRUE(sameRect(r, 6, 4, 594, 346));
    EXPECT_EQ(panel->getBackgroundColor().packed(), 0x8C0000u);
    EXPECT_EQ(panel->getNbViews(), 0);

    const Expected knobs[14] = {
        {2, 30, 40, 90, 100},     {0, 150, 40, 210, 100},   {1, 270, 40, 330, 100},
        {5, 389, 40, 449, 100},   {12, 509, 40, 569, 100},  {7, 30, 145, 90, 205},
        {13, 150, 145, 210, 205}, {4, 270, 145, 330, 205},  {6, 389, 145, 449, 205},
        {3, 509, 145, 569, 205},  {8, 90, 250, 150, 310},   {9, 210, 250, 270, 310},
        {10, 330, 250, 390, 310}, {11, 450, 250, 510, 310},
    };
    const uint32_t arc[14] = {0xFAF0,   0xFAF000, 0xFAF000, 0xFAF000, 0xFAF000, 0xFAF0, 0xFAF0,
                              0xFAF000, 0xFAF000, 0xFAF000, 0x64F0,   0x64F0,   0x64F0, 0x64F0};
    for (int i = 0; i < 14; ++i) {
        SCOPED_TRACE(i);
        auto* knob = dynamic_cast<CKnobArc*>(frame()->getView(1 + i));
        ASSERT_NE(knob, nullptr);
        EXPECT_EQ(knob->getTag(), knobs[i].tag);
        knob->getViewSize(r);
        EXPECT_TRUE(sameRect(r, knobs[i].l, knobs[i].t, knobs[i].r, knobs[i].b));
        EXPECT_EQ(knob->getBackgroundColor(), 0x8C0000u);
        EXPECT_EQ(knob->getArcColor(), arc[i]);
        EXPECT_EQ(knob->getInsetValue(), 7);
        EXPECT_TRUE(knob->getTransparency());
        EXPECT_EQ(knob->getListener(), &editor->getWindow());
        EXPECT_EQ(editor->getKnob(knobs[i].tag), knob);
    }
    const char* names[14] = {"Osc Harmonicity", "LFO Frequency", "LFO Harmonicity", "LFO Phase",
                             "LFO Randomness",  "Harmonic Damp", "Osc Shaping",     "LFO Center",
                             "LFO Amount",      "LFO Sharpness", "Attack",          "Decay",
                             "Sustain",         "Release"};
    const int32_t labelTop[3] = {116, 221, 326}, fieldTop[3] = {99, 204, 308};
    for (int i = 0; i < 14; ++i) {
        SCOPED_TRACE(i);
        const int row = i < 5 ? 0 : i < 10 ? 1 : 2;
        const int32_t left = knobs[i].l - 12;
        auto* label = dynamic_cast<CLabel*>(frame()->getView(15 + i));
        ASSERT_NE(label, nullptr);
        EXPECT_STREQ(label->getLabel(), names[i]);
        label->getViewSize(r);
        EXPECT_TRUE(sameRect(r, left, labelTop[row], left + 85, labelTop[row] + 12));
        EXPECT_EQ(label->getFont(), gui::kFontSmaller);
        EXPECT_EQ(label->getFontColor().packed(), 0u);
        EXPECT_EQ(label->getBackColor().packed(), 0xA0A0A0u);
        EXPECT_EQ(label->getTag(), 0);
        EXPECT_EQ(label->getListener(), nullptr);
        EXPECT_EQ(editor->getLabel(knobs[i].tag), label);

        auto* field = dynamic_cast<gui::CTextEdit*>(frame()->getView(29 + i));
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->getTag(), 100 + knobs[i].tag);
        field->getViewSize(r);
        EXPECT_TRUE(sameRect(r, left, fieldTop[row], left + 85, fieldTop[row] + 12));
        EXPECT_EQ(field->getFont(), gui::kFontSmaller);
        EXPECT_EQ(field->getFontColor().packed(), 0u);
        EXPECT_EQ(field->getBackColor().packed(), 0xA0A0A0u);
        EXPECT_EQ(field->getStyle(), 0);
        EXPECT_NE(field->getString2FloatConvert(), nullptr);
        EXPECT_EQ(field->getListener(), &editor->getWindow());
    }
    auto* title = dynamic_cast<CLabel*>(frame()->getView(43));
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title->getLabel(), "CORVEX - Monophonic texture synth");
    title->getViewSize(r);
    EXPECT_TRUE(sameRect(r, 75, 12, 525, 36));
    EXPECT_EQ(title->getFont(), gui::kFontVeryBig);
    EXPECT_EQ(title->getTxtFace(), 0);
    EXPECT_EQ(title->getFontColor().packed(), 0xFFFFFFu);
    EXPECT_EQ(title->getBackColor().packed(), 0xA0A0A0u);
    auto* maker = dynamic_cast<CLabel*>(frame()->getView(44));
    ASSERT_NE(maker, nullptr);
    EXPECT_STREQ(maker->getLabel(), "Ondrel 2012");
    maker->getViewSize(r);
    EXPECT_TRUE(sameRect(r, 535, 314, 581, 332));
    EXPECT_EQ(maker->getFont(), gui::kFontSmall);
    EXPECT_EQ(maker->getTxtFace(), gui::kStyleBold);
    EXPECT_EQ(maker->getFontColor().packed(), 0xF00000u);
    EXPECT_EQ(maker->getBackColor().packed(), 0xC8C8C8u);
}

TEST_F(CorvexEditorWindow, OpeningShowsTheCurrentProgramEverywhere) {
    dispatch(effSetEditKnobMode, 0, 2);
    dispatch(effSetProgram, 0, 7);
    open();
    EXPECT_EQ(AEffGUIEditor::getKnobModeStatic(), 0) << "open always starts circular";
    for (int32_t i = 0; i < 14; ++i) {
        SCOPED_TRACE(i);
        const float v = parameter(i);
        EXPECT_EQ(editor->getKnob(i)->getValue(), v);
        EXPECT_EQ(editor->getTextField(i)->getValue(), v);
        EXPECT_EQ(text(editor->getTextField(i)), i == 5 && v == 1.0f ? "RANDOM" : format(v));
    }
    EXPECT_TRUE(frame()->isDirty());
}

TEST_F(CorvexEditorWindow, LfoPhaseReadsRandomOnlyAtExactlyOne) {
    open();
    setParameter(5, 1.0f);
    EXPECT_EQ(text(editor->getTextField(5)), "RANDOM");
    setParameter(5, 0.999999f);
    EXPECT_EQ(text(editor->getTextField(5)), "0.999999");
    setParameter(6, 1.0f);
    EXPECT_EQ(text(editor->getTextField(6)), "1.000000") << "only LFO Phase has the word";
}

TEST_F(CorvexEditorWindow, TypedValuesMoveTheKnobAndTheEffectClampedToTheRange) {
    open();
    typeInto(9, "0.25");
    EXPECT_EQ(editor->getKnob(9)->getValue(), 0.25f);
    EXPECT_EQ(parameter(9), 0.25f);
    EXPECT_EQ(text(editor->getTextField(9)), "0.250000");
    typeInto(9, "7");
    EXPECT_EQ(parameter(9), 1.0f);
    EXPECT_EQ(text(editor->getTextField(9)), "1.000000");
    typeInto(9, "-2");
    EXPECT_EQ(parameter(9), 0.0f);
    EXPECT_EQ(editor->getKnob(9)->getValue(), 0.0f);
    EXPECT_EQ(text(editor->getTextField(9)), "0.000000");
    typeInto(9, "no number");
    EXPECT_EQ(parameter(9), 0.0f) << "a text without a number keeps the value";
    EXPECT_EQ(text(editor->getTextField(9)), "0.000000");
    typeInto(5, "1");
    EXPECT_EQ(text(editor->getTextField(5)), "RANDOM");
}

TEST_F(CorvexEditorWindow, KnobEditsReachTheirFieldAndTheEffect) {
    open();
    CKnobArc* knob = editor->getKnob(6);
    knob->setValue(0.75f);
    editor->getWindow().valueChanged(nullptr, knob);
    EXPECT_EQ(parameter(6), 0.75f);
    EXPECT_EQ(editor->getTextField(6)->getValue(), 0.75f);
    EXPECT_EQ(text(editor->getTextField(6)), "0.750000");
    VstKeyCode up{0, 12, 0};
    EXPECT_EQ(editor->onKeyDown(up), -1) << "no knob was clicked: the host keeps its keys";
    EXPECT_EQ(parameter(6), 0.75f);
    frame()->setEditView(knob);  // what a click on it does
    EXPECT_EQ(editor->onKeyDown(up), 1);
    EXPECT_FLOAT_EQ(parameter(6), 0.85f);
    EXPECT_FLOAT_EQ(editor->getTextField(6)->getValue(), 0.85f);
}

// A drag on the "LFO Amount" knob (centre (419, 175)) from its right, over the top, to its left:
// the arc must shrink on screen while the pointer moves (the window is painted from inside the
// tracking loop, with the press's own drawing context still open).
TEST_F(CorvexEditorWindow, ADragOnLfoAmountUpdatesItsFieldAndIsDrawn) {
    open();
    platform::memory::postPaint(window(), {0, 0, 600, 350});
    dispatch(effEditIdle);
    dispatch(effEditIdle);
    for (int i = 0; i <= 18; ++i) {
        const double a = 3.141592653589793 * (i / 18.0);
        gPath.push_back({419 + static_cast<int32_t>(25 * std::cos(a)),
                         175 - static_cast<int32_t>(25 * std::sin(a))});
    }
    platform::memory::setPointer({444, 175});
    platform::memory::setState(platform::kButtonLeft);
    platform::memory::postButtonDown(window(), {444, 175}, 1);
    dispatch(effEditIdle);
    EXPECT_NEAR(parameter(6), 1.0f / 6.0f, 0.01f);
    EXPECT_EQ(text(editor->getTextField(6)), format(parameter(6)));
    EXPECT_EQ(gEdits, (std::vector<std::string>{"begin 6", "end 6"}));
    EXPECT_FALSE(editor->getKnob(6)->isDirty());
    // The value arc left the top and the right half: only the grey track is there now.
    int32_t stride = 0;
    const uint32_t* px = platform::bitmapPixels(platform::memory::windowImage(window()), &stride);
    EXPECT_EQ(px[(175 - 14) * stride + 419 + 5] & 0xFFFFFF, 0x464646u);
    EXPECT_EQ(px[175 * stride + 419 + 14] & 0xFFFFFF, 0x464646u);
}

TEST_F(CorvexEditorWindow, ForeignTagsAreOnlyRedrawnAndOutOfRangeIndicesChangeNothing) {
    open();
    const float before[2] = {parameter(0), parameter(13)};
    for (int32_t tag : {-1, 14, 42, 99, 114, INT32_MIN, INT32_MAX}) {
        gui::CTextEdit stray(CRect(0, 0, 10, 10), &editor->getWindow(), tag, "0.5");
        stray.setValue(0.5f);
        editor->getWindow().valueChanged(nullptr, &stray);
    }
    EXPECT_EQ(parameter(0), before[0]);
    EXPECT_EQ(parameter(13), before[1]);
    setParameter(14, 0.3f);
    setParameter(-1, 0.3f);
    for (int32_t i = 0; i < 14; ++i) EXPECT_EQ(editor->getKnob(i)->getValue(), parameter(i));
}

TEST_F(CorvexEditorWindow, HostChangesWhileClosedAppearOnOpen) {
    setParameter(3, 0.3f);
    std::thread([&] { setParameter(4, 0.4f); }).join();
    open();
    EXPECT_EQ(editor->getKnob(3)->getValue(), 0.3f);
    EXPECT_EQ(text(editor->getTextField(4)), "0.400000");
    EXPECT_EQ(editor->pendingMask(), 0u);
}

TEST_F(CorvexEditorWindow, ChangesFromAnotherThreadWaitForTheNextIdle) {
    open();
    platform::memory::postPaint(window(), {0, 0, 600, 350});
    dispatch(effEditIdle);
    std::thread([&] {
        setParameter(10, 0.125f);
        setParameter(5, 1.0f);
    }).join();
    EXPECT_EQ(editor->pendingMask(), (1u << 10) | (1u << 5));
    EXPECT_NE(text(editor->getTextField(10)), "0.125000")
        << "no view is touched off the window's thread";
    EXPECT_EQ(parameter(10), 0.125f) << "the effect has it at once";
    dispatch(effEditIdle);
    EXPECT_EQ(editor->pendingMask(), 0u);
    EXPECT_EQ(editor->getKnob(10)->getValue(), 0.125f);
    EXPECT_EQ(text(editor->getTextField(10)), "0.125000");
    EXPECT_EQ(text(editor->getTextField(5)), "RANDOM");
    EXPECT_FALSE(editor->getKnob(10)->isDirty()) << "and the idle drew it";
}

TEST_F(CorvexEditorWindow, AnOlderChangeFromAnotherThreadNeverOverwritesANewerOne) {
    open();
    std::thread([&] { setParameter(2, 0.9f); }).join();
    typeInto(2, "0.2");  // the user's edit comes later
    dispatch(effEditIdle);
    EXPECT_EQ(parameter(2), 0.2f);
    EXPECT_EQ(editor->getKnob(2)->getValue(), 0.2f);
    EXPECT_EQ(text(editor->getTextField(2)), "0.200000");
}

TEST_F(CorvexEditorWindow, ReopeningBuildsAFreshTreeWithTheSameValues) {
    open();
    typeInto(11, "0.6");
    for (int round = 0; round < 2; ++round) {
        dispatch(effEditClose);
        EXPECT_EQ(frame(), nullptr);
        EXPECT_EQ(editor->getKnob(11), nullptr);
        EXPECT_EQ(platform::memory::liveWindows(), 0);
        open();
        EXPECT_EQ(frame()->getNbViews(), 45);
        EXPECT_EQ(editor->getKnob(11)->getValue(), 0.6f);
        EXPECT_EQ(text(editor->getTextField(11)), "0.600000");
        EXPECT_EQ(platform::memory::liveWindows(), 1);
    }
}

TEST_F(CorvexEditorWindow, KeysAreRequiredOnlyWhileAFieldIsBeingEdited) {
    EXPECT_EQ(dispatch(effKeysRequired), 1);  // the inverse: 1 means "no"
    open();
    EXPECT_EQ(dispatch(effKeysRequired), 1);
    CRect r;
    editor->getTextField(0)->getViewSize(r);
    const platform::Point at{r.left + 3, r.top + 3};
    platform::memory::setPointer(at);
    platform::memory::setState(platform::kButtonLeft);
    platform::memory::postButtonDown(window(), at, 1);
    dispatch(effEditIdle);
    platform::memory::setState(0);
    EXPECT_EQ(dispatch(effKeysRequired), 0);
    // A host that keeps the keyboard types through the key requests; the box takes them.
    EXPECT_EQ(dispatch(effEditKeyDown, '0'), 1);
    EXPECT_EQ(dispatch(effEditKeyDown, '.'), 1);
    EXPECT_EQ(dispatch(effEditKeyDown, '5'), 1);
    EXPECT_EQ(dispatch(effEditKeyUp, '5'), 1);
    EXPECT_EQ(dispatch(effEditKeyDown, 0, 4), 1);  // Return
    EXPECT_EQ(parameter(0), 0.5f);
    EXPECT_EQ(dispatch(effKeysRequired), 1);
    EXPECT_EQ(dispatch(effEditKeyDown, '5'), -1);
}

TEST_F(CorvexEditorWindow, AFileDropOnALabelShowsItThroughTheWindow) {
    open();
    platform::memory::postPaint(window(), {0, 0, 600, 350});
    dispatch(effEditIdle);
    // "Decay" label: (198, 326, 283, 338); dropped 10 pixels from its left edge.
    platform::memory::setPointer({208, 330});
    platform::memory::postDrop(window(), platform::DropKind::files,
                               {"/tmp/one.wav", "/tmp/two.wav"});
    dispatch(effEditIdle);
    EXPECT_TRUE(platform::memory::lastDropTaken(window()));
    EXPECT_STREQ(editor->getLabel(9)->getLabel(), "2 : /tmp/one.wav at 10");
    EXPECT_FALSE(editor->getLabel(9)->isDirty()) << "redrawn at that idle";
}

}  // namespace
