// SPDX-License-Identifier: GPL-3.0-or-later
// CorvexWindow: the synth's 600 x 350 window, whatever shows it. Fourteen arc knobs, their value
// fields and name labels, a title and a maker line over the background bitmap; it mirrors every
// edit between a knob and its field and passes it to its EditController, and shows every value
// the controller reports. It opens inside any parent window the platform layer accepts (a plug-in
// host's, or a top-level window of the standalone's own).
//
// The window is its frame's owner: gestures go to the controller; idling, ticks, the knob mode
// and requests about the host's window go to the shell, the face's own CFrameOwner.
//
// Threads: open, close, idle, valueChanged and the views belong to the user-interface thread
// (the one that opened the window). setParameter may come from any thread: on the
// user-interface thread it updates the controls at once; from any other thread it only records
// the latest value and a changed bit, lock-free, and the controls follow at the next idle, or at
// the next open while the window is closed.
#pragma once

#include "core/params.h"
#include "gui/control.h"
#include "gui/frame.h"
#include "window/edit_controller.h"

#include <atomic>
#include <cstdint>
#include <thread>

class CKnobArc;
class CLabel;
namespace gui {
class CTextEdit;
}

class CorvexWindow : public gui::CFrameOwner, public gui::CControlListener {
public:
    static constexpr int32_t kNumParams = ::kNumParams;
    static constexpr int32_t kFieldTagBase = 100;
    static constexpr int32_t kWidth = 600;
    static constexpr int32_t kHeight = 350;
    static constexpr int32_t kBackgroundBitmap = 10001;

    CorvexWindow(EditController& controller, gui::CFrameOwner& shell);
    ~CorvexWindow() override;
    CorvexWindow(const CorvexWindow&) = delete;
    CorvexWindow& operator=(const CorvexWindow&) = delete;

    // Builds a new frame and its 44 views inside parent and has the controller send the current
    // values: true; false when no window could be made in parent (nothing stays open). An open
    // window is closed first.
    bool open(void* parent);
    // The same in a top-level window of its own (a standalone's), titled title (UTF-8), whose
    // close requests, keys and loss of focus go to the shell. extraHeight (0-1000) rows are added
    // below the editor for the shell's own views; the editor's own area is drawn as in any other
    // window.
    bool openTopLevel(const char* title, int32_t extraHeight = 0);
    // The same for an application's own window, which names its class and brings its icons.
    bool openTopLevel(const gui::CTopLevel& window, int32_t extraHeight = 0);
    // The editor's own height (the background's), without the rows added below it.
    int32_t editorHeight() const { return builtHeight; }
    // A top-level window's title; false otherwise.
    bool setTitle(const char* utf8);
    // Ends the frame and every view (safely from inside the window's own event handling).
    void close();
    gui::CFrame* getFrame() const { return frame; }
    // Brings changes recorded from other threads into the controls (user-interface thread): true
    // when any was shown.
    bool idle();

    // Any thread. True when the value was shown at once (on the user-interface thread, with the
    // window open, for any index); false when it was recorded for later or ignored.
    bool setParameter(int32_t index, float value);

    // gui::CControlListener: a knob or field the user changed.
    void valueChanged(gui::CDrawContext* context, gui::CControl* control) override;

    // gui::CFrameOwner.
    void doIdleStuff() override { shell.doIdleStuff(); }
    uint32_t getTicks() override { return shell.getTicks(); }
    int32_t getKnobMode() const override { return shell.getKnobMode(); }
    bool tracksInIdle() const override { return shell.tracksInIdle(); }
    void beginEdit(int32_t index) override { controller.beginGesture(index); }
    void endEdit(int32_t index) override { controller.endGesture(index); }
    bool sizeWindow(int32_t width, int32_t height) override {
        return shell.sizeWindow(width, height);
    }
    platform::NativeWindow openWindow(gui::CWindowRecord& record) override {
        return shell.openWindow(record);
    }
    bool closeWindow(gui::CWindowRecord& record) override { return shell.closeWindow(record); }
    void onCloseRequest() override { shell.onCloseRequest(); }
    bool onKey(const gui::CKeyCode& key, bool down) override { return shell.onKey(key, down); }
    void onFocusOut() override { shell.onFocusOut(); }

    // For faces, tests and tools: the views of parameter index while the window is open, else
    // null.
    CKnobArc* getKnob(int32_t index) const;
    gui::CTextEdit* getTextField(int32_t index) const;
    CLabel* getLabel(int32_t index) const;
    // Parameters changed from another thread and not yet shown (bit n: parameter n).
    uint32_t pendingMask() const { return pending.load(std::memory_order_acquire); }

private:
    // Makes the frame (makeFrame(size)), its views, and shows the current values.
    template <typename MakeFrame> bool build(MakeFrame&& makeFrame);
    bool onUserInterfaceThread() const;
    // Puts the controller's value into the knob and field of index, the text formatted from
    // received.
    void showParameter(int32_t index, float received);

    EditController& controller;
    gui::CFrameOwner& shell;
    gui::CFrame* frame = nullptr;
    int32_t builtHeight = kHeight;
    int32_t extraRows = 0;
    CKnobArc* knobs[kNumParams] = {};
    CLabel* labels[kNumParams] = {};
    gui::CTextEdit* textFields[kNumParams] = {};

    // The hand-over from other threads: the latest value per parameter, then its changed bit.
    std::atomic<float> latest[kNumParams] = {};
    std::atomic<uint32_t> pending{0};
    std::atomic<std::thread::id> uiThread{};
};
