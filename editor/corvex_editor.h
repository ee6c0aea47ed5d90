// CorvexEditor: the plug-in's 600 x 350 window. Fourteen arc knobs, their value fields and name
// labels, a title and a maker line over the background bitmap; it mirrors every edit between a
// knob and its field and passes it to the effect, and shows every parameter change the effect
// reports.
//
// Threads: open, close, idle, valueChanged and the key calls belong to the host's user-interface
// thread (the one that opened the window). setParameter may come from any thread: on the
// user-interface thread it updates the controls at once; from any other thread (a host's audio
// or automation thread) it only records the latest value and a changed bit, lock-free, and the
// controls follow at the next idle, or at the next open while the window is closed.
#pragma once

#include "editor/aeffguieditor.h"
#include "gui/control.h"

#include <atomic>
#include <cstdint>
#include <thread>

class CKnobArc;
class CLabel;
namespace gui {
class CTextEdit;
}

// What the editor needs of its effect beyond the plug-in interface, supplied by whoever pairs
// the two (the plug-in's factory). May be null: then a typed text without a number leaves the
// value as it was.
struct CorvexEditorHooks {
    // Reads one leading number and stores it clamped to 0-1; without a number, value stays.
    void (*string2float)(char* text, float& value) = nullptr;
};

class CorvexEditor : public AEffGUIEditor, public gui::CControlListener {
public:
    static constexpr int32_t kNumParams = 14;
    static constexpr int32_t kFieldTagBase = 100;
    static constexpr int32_t kWidth = 600;
    static constexpr int32_t kHeight = 350;
    static constexpr int32_t kBackgroundBitmap = 10001;

    CorvexEditor(AudioEffect* effect, const CorvexEditorHooks& hooks);
    ~CorvexEditor() override;

    // Builds a new frame and its 44 views inside parent and shows the current values: 1; 0 when
    // no window could be made in parent (the editor stays closed). An open window is closed
    // first. Changes nothing in the effect.
    int32_t open(void* ptr) override;
    // Destroys the frame and every view; the editor may be opened again.
    void close() override;
    // Brings changes recorded from other threads into the controls, then the base idle.
    void idle() override;
    // Keys go only to the view being edited (an open text field's box, or the knob clicked last),
    // which answers; -1 without one: the host keeps its keys.
    int32_t onKeyDown(VstKeyCode& keyCode) override;
    int32_t onKeyUp(VstKeyCode& keyCode) override;
    void setParameter(int32_t index, float value) override;
    void valueChanged(gui::CDrawContext* context, gui::CControl* control) override;

    // For tests and tools: the views of parameter index while the window is open, else null.
    CKnobArc* getKnob(int32_t index) const;
    gui::CTextEdit* getTextField(int32_t index) const;
    CLabel* getLabel(int32_t index) const;
    // Parameters changed from another thread and not yet shown (bit n: parameter n).
    uint32_t pendingMask() const { return pending.load(std::memory_order_acquire); }

private:
    bool onUserInterfaceThread() const;
    // Puts the effect's value into the knob and field of index, the text formatted from received.
    void showParameter(int32_t index, float received);
    void applyPending();

    CorvexEditorHooks hooks;
    CKnobArc* knobs[kNumParams] = {};
    CLabel* labels[kNumParams] = {};
    gui::CTextEdit* textFields[kNumParams] = {};

    // The hand-over from other threads: the latest value per parameter, then its changed bit.
    std::atomic<float> latest[kNumParams] = {};
    std::atomic<uint32_t> pending{0};
    std::atomic<std::thread::id> uiThread{};
};
