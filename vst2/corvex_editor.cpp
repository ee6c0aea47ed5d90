// SPDX-License-Identifier: GPL-3.0-or-later
// CorvexEditor: the VST2 side of the window, a thin layer over CorvexWindow.
#include "vst2/corvex_editor.h"

#include "host/audioeffect.h"
#include "platform/window.h"

CorvexEditor::CorvexEditor(AudioEffect* effect) : AEffGUIEditor(effect) {
    rect.top = 0;
    rect.left = 0;
    rect.bottom = kHeight;
    rect.right = kWidth;
    frame = nullptr;
}

// The effect closes an open window before it deletes its editor; this covers an editor deleted
// any other way, so that no window or window-system connection outlives it. close() here is
// this class's own, as intended: the window was opened by this class.
CorvexEditor::~CorvexEditor() { CorvexEditor::close(); }

int32_t CorvexEditor::getRect(ERect** out) {
    // The host sizes its window by this before, during and after open: the desktop's scale until
    // the window has taken one, then the window's.
    const int32_t scale = frame ? frame->getScale() : platform::desktopScale(0);
    rect.right = static_cast<int16_t>(kWidth * scale);
    rect.bottom = static_cast<int16_t>(kHeight * scale);
    return AEffGUIEditor::getRect(out);
}

int32_t CorvexEditor::open(void* ptr) {
    // A second open without a close gets a fresh window in the parent it names.
    close();
    AEffGUIEditor::open(ptr);
    setKnobMode(0);
    if (!window.open(ptr)) return 0;
    frame = window.getFrame();
    return 1;
}

void CorvexEditor::close() {
    window.close();
    frame = nullptr;
}

void CorvexEditor::idle() {
    if (inIdle) return;
    if (window.idle()) postUpdate();
    AEffGUIEditor::idle();
}

void CorvexEditor::setParameter(int32_t index, float value) {
    if (window.setParameter(index, value)) postUpdate();
}

// Host keys reach only the view being edited: an open text field's box (hosts that keep the
// keyboard type into it this way) or the knob clicked last (its arrow keys); no other view. The
// answer is that view's, so a host does not act on a key a view took.
int32_t CorvexEditor::onKeyDown(VstKeyCode& keyCode) {
    gui::CView* view = frame ? frame->getEditView() : nullptr;
    if (!view) return -1;
    gui::CKeyCode k = toToolkitKey(keyCode);
    return view->onKeyDown(k);
}

int32_t CorvexEditor::onKeyUp(VstKeyCode& keyCode) {
    gui::CView* view = frame ? frame->getEditView() : nullptr;
    if (!view) return -1;
    gui::CKeyCode k = toToolkitKey(keyCode);
    return view->onKeyUp(k);
}

float CorvexEditor::getParameter(int32_t index) {
    return effect ? effect->getParameter(index) : 0.0f;
}

void CorvexEditor::setParameterFromUser(int32_t index, float value) {
    if (effect) effect->setParameter(index, value);
}

void CorvexEditor::resendValues() {
    if (!effect) return;
    for (int32_t index = 0; index < kNumParams; ++index)
        setParameter(index, effect->getParameter(index));
}
