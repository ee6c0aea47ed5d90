// SPDX-License-Identifier: GPL-3.0-or-later
// The standalone's window: the editor, the program bar and list, the computer keyboard.
#include "standalone/app_window.h"

#include "gui/drawcontext.h"
#include "standalone/keymap.h"

#include "platform/window.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace corvex_standalone {

using gui::CColor;
using gui::CPoint;
using gui::CRect;

namespace {

constexpr CColor kBarColor{0, 0, 90, 0};
constexpr CColor kButtonColor{160, 160, 160, 0};
constexpr CColor kNameColor{200, 200, 200, 0};
constexpr CColor kLightOff{40, 60, 40, 0};
constexpr CColor kLightOn{60, 255, 60, 0};
constexpr CColor kListColor{0, 0, 60, 0};
constexpr CColor kCurrentColor{240, 250, 0, 0};
constexpr uint32_t kLightMs = 150;

std::string programName(const CorvexSynth& synth, int32_t program) {
    char name[kProgramNameSize] = {};
    synth.getProgramNameIndexed(program, name);
    return name;
}

}  // namespace

// ---- The bar ---------------------------------------------------------------------------------

// Under the editor: [<] [ 12  Birds ] [>] and the MIDI light, each a fixed rectangle.
class ProgramBar : public gui::CView {
public:
    ProgramBar(const CRect& size, StandaloneWindow& owner) : CView(size), owner(owner) {
        const int32_t top = size.top + 4, bottom = size.bottom - 4;
        previous = CRect(8, top, 40, bottom);
        name = CRect(46, top, 400, bottom);
        next = CRect(406, top, 438, bottom);
        lamp = CRect(size.right - 30, top + 2, size.right - 14, bottom - 2);
    }

    void setText(const std::string& text) {
        std::snprintf(label, sizeof label, "%s", text.c_str());
        setDirty(true);
    }
    void setLight(bool on) {
        if (on == lit) return;
        lit = on;
        setDirty(true);
    }

    void draw(gui::CDrawContext* context) override {
        if (!context) return;
        context->setFillColor(kBarColor);
        context->fillRect(size);
        box(context, previous, kButtonColor, "<", gui::kAlignCenter);
        box(context, next, kButtonColor, ">", gui::kAlignCenter);
        box(context, name, kNameColor, label, gui::kAlignLeft);
        context->setFont(gui::kFontSmaller);
        context->setFontColor(gui::kWhiteCColor);
        context->drawString("MIDI",
                            CRect(lamp.left - 40, lamp.top - 2, lamp.left - 4, lamp.bottom + 2), 0,
                            gui::kAlignRight);
        context->setFillColor(lit ? kLightOn : kLightOff);
        context->fillEllipse(lamp);
        setDirty(false);
    }

    void mouse(gui::CDrawContext*, CPoint& where) override {
        if (where.isInside(previous)) owner.stepProgram(-1);
        else if (where.isInside(next)) owner.stepProgram(1);
        else if (where.isInside(name)) owner.showProgramList();
    }

private:
    static void box(gui::CDrawContext* context, const CRect& r, CColor color, const char* text,
                    gui::CHoriTxtAlign align) {
        context->setFillColor(color);
        context->fillRect(r);
        context->setFrameColor(gui::kBlackCColor);
        context->drawRect(r);
        context->setFont(gui::kFontSmall);
        context->setFontColor(gui::kBlackCColor);
        CRect inner = r;
        inner.left += 6;
        context->drawString(text, inner, 0, align);
    }

    StandaloneWindow& owner;
    CRect previous, name, next, lamp;
    char label[64] = {};
    bool lit = false;
};

// ---- The list --------------------------------------------------------------------------------

// Over the whole window while open: the 64 programs in four columns; a click on one chooses it,
// a click elsewhere (or Escape) leaves the program as it was.
class ProgramList : public gui::CView {
public:
    static constexpr int32_t kColumns = 4;
    static constexpr int32_t kRows = kNumPrograms / kColumns;

    ProgramList(const CRect& size, StandaloneWindow& owner, const CorvexSynth& synth)
        : CView(size), owner(owner) {
        for (int32_t i = 0; i < kNumPrograms; ++i) names[i] = programName(synth, i);
        current = synth.getProgram();
    }

    CRect cell(int32_t program) const {
        const int32_t w = (size.width() - 16) / kColumns;
        const int32_t h = std::min<int32_t>(21, (size.height() - 16) / kRows);
        const int32_t column = program / kRows, row = program % kRows;
        const int32_t left = size.left + 8 + column * w, top = size.top + 8 + row * h;
        return CRect(left, top, left + w - 4, top + h - 2);
    }

    void draw(gui::CDrawContext* context) override {
        if (!context) return;
        context->setFillColor(kListColor);
        context->fillRect(size);
        context->setFont(gui::kFontSmaller);
        for (int32_t i = 0; i < kNumPrograms; ++i) {
            const CRect r = cell(i);
            context->setFillColor(i == current ? kCurrentColor : kNameColor);
            context->fillRect(r);
            char text[48];
            std::snprintf(text, sizeof text, " %2d  %s", static_cast<int>(i), names[i].c_str());
            context->setFontColor(gui::kBlackCColor);
            context->drawString(text, r, 0, gui::kAlignLeft);
        }
        setDirty(false);
    }

    void mouse(gui::CDrawContext*, CPoint& where) override {
        int32_t chosen = -1;
        for (int32_t i = 0; i < kNumPrograms; ++i)
            if (where.isInside(cell(i))) chosen = i;
        owner.hideProgramList(chosen);
    }
    bool hitTest(const CPoint&, int32_t) override { return true; }

private:
    StandaloneWindow& owner;
    std::string names[kNumPrograms];
    int32_t current = 0;
};

// ---- The window ------------------------------------------------------------------------------

StandaloneWindow::StandaloneWindow(CorvexSynth& s, NoteSink& sink) : synth(s), notes(sink) {
    std::fill(std::begin(held), std::end(held), int16_t{-1});
}

StandaloneWindow::~StandaloneWindow() { close(); }

std::string StandaloneWindow::title() const {
    return "Corvex \u2014 " + programName(synth, synth.getProgram());
}

bool StandaloneWindow::open() {
    quit = false;
    if (!window.openTopLevel(title().c_str(), kBarHeight)) return false;
    gui::CFrame* frame = window.getFrame();
    const int32_t top = window.editorHeight();
    bar = new ProgramBar(CRect(0, top, frame->getWidth(), top + kBarHeight), *this);
    frame->addView(bar);
    showProgram();
    return true;
}

void StandaloneWindow::close() {
    releaseAll();
    // The frame owns the bar and ends it with itself; the list, as a modal view, is ours.
    if (list) {
        if (gui::CFrame* frame = window.getFrame()) frame->setModalView(nullptr);
        list->forget();
        list = nullptr;
    }
    bar = nullptr;
    window.close();
}

void StandaloneWindow::idle(uint32_t midiCount) {
    gui::CFrame* frame = window.getFrame();
    if (!frame) return;
    const uint32_t now = platform::ticks();
    if (midiCount != lastMidiCount) {
        lastMidiCount = midiCount;
        lightUntil = now + kLightMs;
        light = true;
    } else if (light && static_cast<int32_t>(now - lightUntil) >= 0) {
        light = false;
    }
    if (bar) bar->setLight(light);
    window.idle();
    frame->idle();
}

void StandaloneWindow::selectProgram(int32_t program) {
    if (program < 0 || program >= kNumPrograms) return;
    synth.setProgram(program);
    showProgram();
}

void StandaloneWindow::stepProgram(int32_t delta) {
    const int32_t program =
        ((synth.getProgram() + delta) % kNumPrograms + kNumPrograms) % kNumPrograms;
    selectProgram(program);
}

void StandaloneWindow::showProgramList() {
    gui::CFrame* frame = window.getFrame();
    if (!frame || list) return;
    list = new ProgramList(CRect(0, 0, frame->getWidth(), frame->getHeight()), *this, synth);
    frame->setModalView(list);
    list->setDirty(true);
}

void StandaloneWindow::hideProgramList(int32_t chosen) {
    gui::CFrame* frame = window.getFrame();
    if (!frame || !list) return;
    frame->setModalView(nullptr);
    list->forget();
    list = nullptr;
    if (chosen >= 0) selectProgram(chosen);
    frame->setDirty(true);
}

void StandaloneWindow::showProgram() {
    const int32_t program = synth.getProgram();
    window.setTitle(title().c_str());
    if (bar) {
        char text[64];
        std::snprintf(text, sizeof text, "%d   %s", static_cast<int>(program),
                      programName(synth, program).c_str());
        bar->setText(text);
    }
    if (window.getFrame()) resendValues();
}

float StandaloneWindow::getParameter(int32_t index) { return synth.getParameter(index); }

void StandaloneWindow::setParameterFromUser(int32_t index, float value) {
    synth.setParameter(index, value);
    window.setParameter(index, value);
}

void StandaloneWindow::resendValues() {
    for (int32_t index = 0; index < kNumParams; ++index)
        window.setParameter(index, synth.getParameter(index));
}

void StandaloneWindow::doIdleStuff() {
    // Inside a knob drag: values and drawing, then paint events only, about 50 times a second.
    const uint32_t now = platform::ticks();
    if (static_cast<int32_t>(nextPaint - now) > 0) {
        platform::sleepMs(4);
        return;
    }
    window.idle();
    if (gui::CFrame* frame = window.getFrame()) frame->dispatchPaint();
    nextPaint = now + 20;
}

uint32_t StandaloneWindow::getTicks() { return platform::ticks(); }

bool StandaloneWindow::onKey(const gui::CKeyCode& key, bool down) {
    const bool physical = key.scancode != 0 && key.scancode <= 255;
    // A release ends the note its key started, whatever happened since the press (a modifier
    // pressed, the list opened, the octave changed): no note is ever left hanging.
    if (!down && physical && held[key.scancode] >= 0) {
        notes.playNote({0x80, static_cast<uint8_t>(held[key.scancode]), 0});
        held[key.scancode] = -1;
        return true;
    }
    if (list) {
        if (down && key.key == gui::CKey::escape) hideProgramList(-1);
        return true;
    }
    // Shortcuts with Control or Alt are the system's.
    if (!physical || (key.modifiers & (gui::kKeyControl | gui::kKeyAlt))) return false;
    if (key.scancode == kOctaveDownKey || key.scancode == kOctaveUpKey) {
        if (down && !key.repeat)
            octave = std::clamp(octave + (key.scancode == kOctaveUpKey ? 1 : -1), -kMaxOctaveShift,
                                kMaxOctaveShift);
        return true;
    }
    const int32_t note = noteForKey(key.scancode, octave);
    int16_t& playing = held[key.scancode];
    // A held key's auto-repeat (or a second press without its release) plays nothing new.
    if (!down || key.repeat || playing >= 0) return note >= 0 || playing >= 0;
    if (note < 0) return false;
    playing = static_cast<int16_t>(note);
    notes.playNote({0x90, static_cast<uint8_t>(note), kKeyboardVelocity});
    return true;
}

void StandaloneWindow::onFocusOut() { releaseAll(); }

void StandaloneWindow::releaseAll() {
    for (int16_t& playing : held) {
        if (playing < 0) continue;
        notes.playNote({0x80, static_cast<uint8_t>(playing), 0});
        playing = -1;
    }
}

}  // namespace corvex_standalone
