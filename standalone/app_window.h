// SPDX-License-Identifier: GPL-3.0-or-later
// StandaloneWindow: the standalone's window. The synth's editor (a CorvexWindow) in a top-level
// window titled "Corvex — <program>", with a program bar of our own under it: previous and next
// program, the name (a click lists all 64 to choose from) and a light that shows MIDI coming in.
// Closing the window asks the application to quit. While no value field is being edited, the
// computer keyboard plays notes (standalone/keymap.h) through the NoteSink; auto-repeats are
// ignored and the notes still held when the window loses the keyboard are released.
//
// Threads: everything here belongs to the main thread, which opened the window. The synth's
// parameter calls are safe from there while the audio thread renders; program selection is made
// only here, one call at a time.
#pragma once

#include "core/synth.h"
#include "gui/frame.h"
#include "standalone/ring.h"
#include "window/corvex_window.h"
#include "window/edit_controller.h"

#include <cstdint>
#include <string>

namespace corvex_standalone {

// Where the keyboard's notes go: the audio engine (or a test).
class NoteSink {
public:
    virtual ~NoteSink() = default;
    virtual void playNote(MidiMessage message) = 0;
};

class ProgramBar;
class ProgramList;

class StandaloneWindow : private EditController, private gui::CFrameOwner {
public:
    static constexpr int32_t kBarHeight = 28;

    StandaloneWindow(CorvexSynth& synth, NoteSink& notes);
    ~StandaloneWindow() override;
    StandaloneWindow(const StandaloneWindow&) = delete;
    StandaloneWindow& operator=(const StandaloneWindow&) = delete;

    // Opens the window on the desktop: false when no window could be made.
    bool open();
    void close();
    bool isOpen() const { return window.getFrame() != nullptr; }
    // The user closed the window (its close button or the window manager).
    bool quitRequested() const { return quit; }
    // A knob is being dragged: the loop idles the window more often meanwhile.
    bool tracking() const {
        return window.getFrame() && window.getFrame()->getTrackingView() != nullptr;
    }

    // The window's events and drawing, the values changed elsewhere, the MIDI light (midiCount:
    // the events the engine has seen so far).
    void idle(uint32_t midiCount);
    // Makes program the current one (0-63; others are ignored) and shows it: title, bar, knobs.
    void selectProgram(int32_t program);
    // The title the window shows for the current program.
    std::string title() const;

    // For tests: the editor, the octave shift, whether the light is on.
    CorvexWindow& editor() { return window; }
    int32_t octaveShift() const { return octave; }
    bool lightOn() const { return light; }

    // The bar's and the list's requests.
    void stepProgram(int32_t delta);
    void showProgramList();
    void hideProgramList(int32_t chosen);

private:
    // EditController: the synth's own values.
    float getParameter(int32_t index) override;
    void setParameterFromUser(int32_t index, float value) override;
    void beginGesture(int32_t) override {}
    void endGesture(int32_t) override {}
    void resendValues() override;

    // gui::CFrameOwner. A knob drag goes on one step per idle, so that MIDI program changes and
    // a server that went away are still seen while it lasts; doIdleStuff serves any other loop.
    bool tracksInIdle() const override { return true; }
    void doIdleStuff() override;
    uint32_t getTicks() override;
    void onCloseRequest() override { quit = true; }
    bool onKey(const gui::CKeyCode& key, bool down) override;
    void onFocusOut() override;

    void releaseAll();
    void showProgram();

    CorvexSynth& synth;
    NoteSink& notes;
    CorvexWindow window{*this, *this};
    ProgramBar* bar = nullptr;
    ProgramList* list = nullptr;
    bool quit = false;
    int32_t octave = 0;
    // The note each physical key started, by scan code (0-255); -1 for none.
    int16_t held[256] = {};
    uint32_t lastMidiCount = 0;
    uint32_t lightUntil = 0;
    bool light = false;
    uint32_t nextPaint = 0;
};

}  // namespace corvex_standalone
