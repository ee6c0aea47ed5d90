// SPDX-License-Identifier: GPL-3.0-or-later
// CorvexLv2Ui: the synth's window as an LV2 X11 UI. It embeds a CorvexWindow in the host's
// parent window (ui:parent), tells the host its size (ui:resize), sends every user edit as a
// port value through the host's write function, brackets drags with ui:touch grabs when the
// host offers them, and shows the values the host sends (port_event). It never touches the DSP:
// the host may run the two in different processes.
//
// Threads: LV2 makes every UI call (instantiation, port_event, idle, cleanup) on the host's
// user-interface thread, and so does this class; the window runs on that thread only.
#pragma once

#include "lv2/bundle.h"
#include "window/corvex_window.h"

#include <lv2/ui/ui.h>

#include <cstdint>

namespace corvex_lv2 {

class CorvexLv2Ui : private EditController, private gui::CFrameOwner {
public:
    // touch and resize may be null (the host offers no such feature).
    CorvexLv2Ui(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch,
                const LV2UI_Resize* resize);
    ~CorvexLv2Ui() override;
    CorvexLv2Ui(const CorvexLv2Ui&) = delete;
    CorvexLv2Ui& operator=(const CorvexLv2Ui&) = delete;

    // Builds the window inside parent (an X11 window id): false when none could be made there.
    bool open(void* parent);
    // The window's own X11 id, for the host's widget; 0 while closed.
    uintptr_t widget() const;
    // A control port's new value (format 0, a float): shown at once. Other ports and formats are
    // ignored.
    void portEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer);
    // The window's events and drawing; 0 while the window lives, 1 once it is gone.
    int idle();

    CorvexWindow& getWindow() { return window; }

private:
    // EditController: the values are the host's, as port events brought them.
    float getParameter(int32_t index) override;
    void setParameterFromUser(int32_t index, float value) override;
    void beginGesture(int32_t index) override { touch(index, true); }
    void endGesture(int32_t index) override { touch(index, false); }
    void resendValues() override;
    void touch(int32_t index, bool grabbed);

    // gui::CFrameOwner: a drag follows the host's idle calls, so the host's own windows (on the
    // same thread) keep running during it; a tracking loop of any other kind keeps the window
    // painted through doIdleStuff.
    bool tracksInIdle() const override { return true; }
    void doIdleStuff() override;
    uint32_t getTicks() override;

    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const LV2UI_Touch* touchFeature;
    const LV2UI_Resize* resizeFeature;
    float values[kNumParams] = {};
    uint32_t nextPaint = 0;
    CorvexWindow window{*this, *this};
};

}  // namespace corvex_lv2
