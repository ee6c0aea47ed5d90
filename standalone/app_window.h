// SPDX-License-Identifier: GPL-3.0-or-later
// StandaloneWindow: the standalone's window. The synth's editor (a CorvexWindow) in a top-level
// window titled "Corvex — <program>", of class "Corvex" and with corvex's icon, so that docks and
// task switchers know it; with a program bar of our own under it: previous and next program, the
// name (a click lists all 64 to choose from) and a light that shows MIDI coming in. Closing the
// window asks the application to quit. While no value field is being edited, the computer
// keyboard plays notes (standalone/keymap.h) through the NoteSink; auto-repeats are ignored and
// the notes still held when the window loses the keyboard are released.
//
// MIDI learn: a right-click on a knob, its value field or its name arms learning for that
// parameter, and the bar says so until the next controller moved binds to it (MidiLearn) or
// Escape or another right-click cancels. A right-click on a parameter already bound offers, in the
// bar, to forget the binding or to learn again. The plug-ins' windows have none of this (their
// hosts map MIDI): the editor's pixels and its left-clicks stay theirs.
//
// Threads: everything here belongs to the main thread, which opened the window, except
// parameterMoved, which the audio thread calls: it only records the value, lock-free, and the
// knob and field show it at the next idle. The synth's parameter calls are safe from the main
// thread while the audio thread renders; program selection is made only here, one call at a time.
#pragma once

#include "core/synth.h"
#include "gui/frame.h"
#include "standalone/midi_learn.h"
#include "standalone/period.h"
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
class LearnClicks;

class StandaloneWindow : public ParameterListener,
                         private EditController,
                         private gui::CFrameOwner {
public:
    static constexpr int32_t kBarHeight = 28;
    // WM_CLASS's class (its instance is "corvex"), as packaging/corvex.desktop's StartupWMClass.
    static constexpr const char* kWindowClass = "Corvex";
    // The icon's sizes handed to the desktop.
    static constexpr int32_t kIconSizes[2] = {48, 128};
    // How long the bar tells what learning or forgetting did before it shows the program again.
    static constexpr uint32_t kNoticeMs = 4000;

    // learn: the bindings a right-click teaches and the bar reports on, the same the audio thread
    // takes from (it outlives the window); null: no MIDI learn, right-clicks do nothing.
    StandaloneWindow(CorvexSynth& synth, NoteSink& notes, MidiLearn* learn = nullptr);
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

    // The window's events and drawing, the values changed elsewhere, the light: green while MIDI
    // comes in (midiCount: the events the engine has seen so far), red for a moment after the
    // sound broke up (troubles: the xruns or underruns so far).
    void idle(uint32_t midiCount, uint32_t troubles = 0);
    // What plays the sound ("JACK", "ALSA"), shown in the bar beside the light.
    void setAudioName(const std::string& name);
    // Makes program the current one (0-63; others are ignored) and shows it: title, bar, knobs.
    void selectProgram(int32_t program);
    // The title the window shows for the current program.
    std::string title() const;

    // For tests: the editor, the octave shift, whether the light is on.
    CorvexWindow& editor() { return window; }
    int32_t octaveShift() const { return octave; }
    bool lightOn() const { return light; }
    bool troubleOn() const { return trouble; }

    // The bar's and the list's requests.
    void stepProgram(int32_t delta);
    void showProgramList();
    void hideProgramList(int32_t chosen);

    // ParameterListener, the audio thread: a bound controller set index to value.
    void parameterMoved(int32_t index, float value) override { window.setParameter(index, value); }

    // MIDI learn. A right-click on parameter's knob, field or name (-1: elsewhere): arms learning
    // for it, or offers to forget its binding; while either is going on, cancels it.
    void learnClick(int32_t parameter);
    // Escape, a right-click, or the window closing: the parameter learns nothing, the offer goes.
    void cancelLearning();
    // The offer's two buttons.
    void forgetOffered();
    void learnOffered();
    // Learning is armed or the offer shows: every right-click is learn's.
    bool learnBusy() const { return learning >= 0 || offered >= 0; }
    // The parameter whose knob, value field or name is at where (frame coordinates); -1 for none.
    int32_t parameterAt(const gui::CPoint& where) const;
    // For tests: the parameter learning waits for, the one whose binding is offered (-1 for
    // none), and the bar's text as a person reads it.
    int32_t learningParameter() const { return learning; }
    int32_t offeredParameter() const { return offered; }
    std::string barText() const;

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
    std::string programLabel() const;
    // The bar after a change of learning, offer or notice.
    void showLearn();
    void startLearning(int32_t parameter);
    void notice(const std::string& text);
    // What the audio thread's learning did since the last look.
    void followLearn(uint32_t now);

    CorvexSynth& synth;
    NoteSink& notes;
    MidiLearn* learn;
    CorvexWindow window{*this, *this};
    ProgramBar* bar = nullptr;
    ProgramList* list = nullptr;
    LearnClicks* clicks = nullptr;
    int32_t learning = -1;
    int32_t offered = -1;
    uint32_t seenChanges = 0;
    std::string noticeText;
    uint32_t noticeUntil = 0;
    bool quit = false;
    int32_t octave = 0;
    // The note each physical key started, by scan code (0-255); -1 for none.
    int16_t held[256] = {};
    uint32_t lastMidiCount = 0;
    uint32_t lightUntil = 0;
    bool light = false;
    uint32_t lastTroubles = 0;
    uint32_t troubleUntil = 0;
    bool trouble = false;
    std::string audioName;
    uint32_t nextPaint = 0;
};

}  // namespace corvex_standalone
