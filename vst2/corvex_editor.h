// SPDX-License-Identifier: GPL-3.0-or-later
// CorvexEditor: the synth's window as a VST2 editor. It shows a CorvexWindow in the host's parent
// window and is its EditController: user edits go to the effect with plain setParameter (the host
// learns of a drag only through begin and end of edit), the current values are re-sent to the
// window alone when it opens, and host keys reach only the view being edited.
//
// Threads: open, close, idle and the key calls belong to the host's user-interface thread (the
// one that opened the window). setParameter may come from any thread (a host's audio or
// automation thread): the window takes it over lock-free (window/corvex_window.h).
#pragma once

#include "vst2/aeffguieditor.h"
#include "window/corvex_window.h"

#include <cstdint>

class CKnobArc;
class CLabel;
namespace gui {
class CTextEdit;
}

class CorvexEditor : public AEffGUIEditor, private EditController {
public:
    static constexpr int32_t kNumParams = CorvexWindow::kNumParams;
    static constexpr int32_t kFieldTagBase = CorvexWindow::kFieldTagBase;
    static constexpr int32_t kWidth = CorvexWindow::kWidth;
    static constexpr int32_t kHeight = CorvexWindow::kHeight;

    explicit CorvexEditor(AudioEffect* effect);
    ~CorvexEditor() override;

    // Builds the window inside parent and shows the current values: 1; 0 when no window could be
    // made in parent (the editor stays closed). An open window is closed first. Changes nothing
    // in the effect.
    int32_t getRect(ERect** rect) override;
    int32_t open(void* ptr) override;
    // Ends the window; the editor may be opened again.
    void close() override;
    // Brings changes recorded from other threads into the controls, then the base idle.
    void idle() override;
    // Keys go only to the view being edited (an open text field's box, or the knob clicked last),
    // which answers; -1 without one: the host keeps its keys.
    int32_t onKeyDown(VstKeyCode& keyCode) override;
    int32_t onKeyUp(VstKeyCode& keyCode) override;
    void setParameter(int32_t index, float value) override;

    CorvexWindow& getWindow() { return window; }
    // For tests and tools: the views of parameter index while the window is open, else null.
    CKnobArc* getKnob(int32_t index) const { return window.getKnob(index); }
    gui::CTextEdit* getTextField(int32_t index) const { return window.getTextField(index); }
    CLabel* getLabel(int32_t index) const { return window.getLabel(index); }
    uint32_t pendingMask() const { return window.pendingMask(); }

private:
    // EditController, for the effect this editor belongs to.
    float getParameter(int32_t index) override;
    void setParameterFromUser(int32_t index, float value) override;
    void beginGesture(int32_t index) override { beginEdit(index); }
    void endGesture(int32_t index) override { endEdit(index); }
    void resendValues() override;

    CorvexWindow window{*this, *this};
};
