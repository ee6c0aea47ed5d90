// SPDX-License-Identifier: GPL-3.0-or-later
// The standalone's window: the editor, the program bar and list, MIDI learn's clicks, the computer
// keyboard.
#include "standalone/app_window.h"

#include "gui/drawcontext.h"
#include "gui/textedit.h"
#include "standalone/icon.h"
#include "standalone/keymap.h"
#include "window/knob_arc.h"
#include "window/label.h"

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
constexpr CColor kLightTrouble{255, 60, 40, 0};
constexpr uint32_t kTroubleMs = 600;
constexpr CColor kListColor{0, 0, 60, 0};
constexpr CColor kCurrentColor{240, 250, 0, 0};
constexpr CColor kLearnColor{240, 250, 0, 0};
constexpr uint32_t kLightMs = 150;

std::string programName(const CorvexSynth& synth, int32_t program) {
    char name[kProgramNameSize] = {};
    synth.getProgramNameIndexed(program, name);
    return name;
}

}  // namespace

// ---- The bar ---------------------------------------------------------------------------------

// Under the editor, each part a fixed rectangle, and the MIDI light at the right. Showing the
// program: [<] [ 12  Birds ] [>], the name's box telling what learning did for a while. While
// learning: one box saying which parameter waits. Offering to forget a binding: the binding, then
// [Forget] [Learn again]; a click elsewhere on the bar leaves it as it was.
class ProgramBar : public gui::CView {
public:
    enum class Mode { program, learning, offer };

    ProgramBar(const CRect& size, StandaloneWindow& owner) : CView(size), owner(owner) {
        const int32_t top = size.top + 4, bottom = size.bottom - 4;
        previous = CRect(8, top, 40, bottom);
        name = CRect(46, top, 400, bottom);
        next = CRect(406, top, 438, bottom);
        lamp = CRect(size.right - 30, top + 2, size.right - 14, bottom - 2);
        message = CRect(8, top, lamp.left - 46, bottom);
        binding = CRect(8, top, 330, bottom);
        forget = CRect(336, top, 410, bottom);
        again = CRect(416, top, message.right, bottom);
    }

    // The name box's text.
    void setText(const std::string& text) {
        label = text;
        setDirty(true);
    }
    // A mode and its text (ignored in program mode, which shows the name box's).
    void show(Mode m, const std::string& text) {
        mode = m;
        said = text;
        setDirty(true);
    }
    std::string text() const {
        if (mode == Mode::program) return label;
        if (mode == Mode::learning) return said;
        return said + " [Forget] [Learn again]";
    }
    void setLight(bool on, bool broke) {
        if (on == lit && broke == troubled) return;
        lit = on;
        troubled = broke;
        setDirty(true);
    }
    void setAudio(const std::string& text) {
        audio = text;
        setDirty(true);
    }

    void draw(gui::CDrawContext* context) override {
        if (!context) return;
        context->setFillColor(kBarColor);
        context->fillRect(size);
        switch (mode) {
        case Mode::program:
            box(context, previous, kButtonColor, "<", gui::kAlignCenter);
            box(context, next, kButtonColor, ">", gui::kAlignCenter);
            box(context, name, kNameColor, label.c_str(), gui::kAlignLeft);
            context->setFont(gui::kFontSmaller);
            context->setFontColor(gui::kWhiteCColor);
            context->drawString(
                audio.c_str(), CRect(next.right + 6, lamp.top - 2, lamp.left - 46, lamp.bottom + 2),
                0, gui::kAlignRight);
            break;
        case Mode::learning:
            box(context, message, kLearnColor, said.c_str(), gui::kAlignLeft);
            break;
        case Mode::offer:
            box(context, binding, kNameColor, said.c_str(), gui::kAlignLeft);
            box(context, forget, kButtonColor, "Forget", gui::kAlignCenter);
            box(context, again, kButtonColor, "Learn again", gui::kAlignCenter);
            break;
        }
        context->setFont(gui::kFontSmaller);
        context->setFontColor(gui::kWhiteCColor);
        context->drawString("MIDI",
                            CRect(lamp.left - 40, lamp.top - 2, lamp.left - 4, lamp.bottom + 2), 0,
                            gui::kAlignRight);
        context->setFillColor(troubled ? kLightTrouble : lit ? kLightOn : kLightOff);
        context->fillEllipse(lamp);
        setDirty(false);
    }

    void mouse(gui::CDrawContext*, CPoint& where) override {
        switch (mode) {
        case Mode::program:
            if (where.isInside(previous)) owner.stepProgram(-1);
            else if (where.isInside(next)) owner.stepProgram(1);
            else if (where.isInside(name)) owner.showProgramList();
            break;
        case Mode::learning: break;
        case Mode::offer:
            if (where.isInside(forget)) owner.forgetOffered();
            else if (where.isInside(again)) owner.learnOffered();
            else owner.cancelLearning();
            break;
        }
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
    CRect previous, name, next, lamp, message, binding, forget, again;
    Mode mode = Mode::program;
    std::string label, said, audio;
    bool lit = false, troubled = false;
};

// ---- Learn's clicks --------------------------------------------------------------------------

// Over every other view, the right-clicks MIDI learn answers: on a parameter's knob, field or
// name, and anywhere while learning or the offer is on. It covers no pixel and lets every other
// press through, so the editor looks and answers the left button as in the plug-ins.
class LearnClicks : public gui::CView {
public:
    explicit LearnClicks(StandaloneWindow& owner) : CView(CRect(0, 0, 0, 0)), owner(owner) {}

    bool hitTest(const CPoint& where, int32_t buttons) override {
        // -1 asks about any button: only the right one alone is ours.
        if (buttons < 0 || !(buttons & gui::kMouseRight) || (buttons & gui::kMouseLeft))
            return false;
        return owner.learnBusy() || owner.parameterAt(where) >= 0;
    }
    void mouse(gui::CDrawContext*, CPoint& where) override {
        owner.learnClick(owner.parameterAt(where));
    }

private:
    StandaloneWindow& owner;
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

StandaloneWindow::StandaloneWindow(CorvexSynth& s, NoteSink& sink, MidiLearn* table)
    : synth(s), notes(sink), learn(table) {
    std::fill(std::begin(held), std::end(held), int16_t{-1});
    if (learn) seenChanges = learn->changes();
}

StandaloneWindow::~StandaloneWindow() { close(); }

std::string StandaloneWindow::title() const {
    return "Corvex \u2014 " + programName(synth, synth.getProgram());
}

bool StandaloneWindow::open() {
    quit = false;
    // Drawn here rather than read from the installed PNGs: the window has its icon wherever the
    // program runs from. Without memory for one, the window has none.
    platform::Bitmap* icons[std::size(kIconSizes)] = {};
    for (std::size_t i = 0; i < std::size(kIconSizes); ++i) icons[i] = drawIcon(kIconSizes[i]);
    const std::string text = title();
    gui::CTopLevel top;
    top.title = text.c_str();
    top.className = kWindowClass;
    top.icons = icons;
    top.iconCount = static_cast<int32_t>(std::size(icons));
    const bool opened = window.openTopLevel(top, kBarHeight);
    for (platform::Bitmap* icon : icons) platform::deleteBitmap(icon);
    if (!opened) return false;
    gui::CFrame* frame = window.getFrame();
    const int32_t barTop = window.editorHeight();
    bar = new ProgramBar(CRect(0, barTop, frame->getWidth(), barTop + kBarHeight), *this);
    bar->setAudio(audioName);
    frame->addView(bar);
    // Last, so that it is asked first.
    if (learn) {
        clicks = new LearnClicks(*this);
        frame->addView(clicks);
    }
    showProgram();
    return true;
}

void StandaloneWindow::close() {
    releaseAll();
    // No parameter stays armed behind a window that no longer says so.
    if (learning >= 0 && learn) learn->cancel();
    learning = offered = -1;
    noticeText.clear();
    // The frame owns the bar and ends it with itself; the list, as a modal view, is ours.
    if (list) {
        if (gui::CFrame* frame = window.getFrame()) frame->setModalView(nullptr);
        list->forget();
        list = nullptr;
    }
    bar = nullptr;
    clicks = nullptr;
    window.close();
}

void StandaloneWindow::setAudioName(const std::string& name) {
    audioName = name;
    if (bar) bar->setAudio(name);
}

void StandaloneWindow::idle(uint32_t midiCount, uint32_t troubles) {
    gui::CFrame* frame = window.getFrame();
    if (!frame) return;
    const uint32_t now = platform::ticks();
    if (troubles != lastTroubles) {
        lastTroubles = troubles;
        troubleUntil = now + kTroubleMs;
        trouble = true;
    } else if (trouble && static_cast<int32_t>(now - troubleUntil) >= 0) {
        trouble = false;
    }
    if (midiCount != lastMidiCount) {
        lastMidiCount = midiCount;
        lightUntil = now + kLightMs;
        light = true;
    } else if (light && static_cast<int32_t>(now - lightUntil) >= 0) {
        light = false;
    }
    if (bar) bar->setLight(light, trouble);
    followLearn(now);
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
    window.setTitle(title().c_str());
    noticeText.clear();
    if (bar) bar->setText(programLabel());
    if (window.getFrame()) resendValues();
}

std::string StandaloneWindow::programLabel() const {
    const int32_t program = synth.getProgram();
    char text[64];
    std::snprintf(text, sizeof text, "%d   %s", static_cast<int>(program),
                  programName(synth, program).c_str());
    return text;
}

// ---- MIDI learn ------------------------------------------------------------------------------

int32_t StandaloneWindow::parameterAt(const CPoint& where) const {
    for (int32_t index = 0; index < kNumParams; ++index) {
        const gui::CView* views[3] = {window.getKnob(index), window.getTextField(index),
                                      window.getLabel(index)};
        for (const gui::CView* view : views) {
            CRect r;
            if (view && where.isInside(view->getViewSize(r))) return index;
        }
    }
    return -1;
}

void StandaloneWindow::learnClick(int32_t parameter) {
    if (!learn) return;
    if (learnBusy() || parameter < 0 || parameter >= kNumParams) {
        cancelLearning();
        return;
    }
    if (learn->controllerOf(parameter) >= 0) {
        offered = parameter;
        showLearn();
        return;
    }
    startLearning(parameter);
}

void StandaloneWindow::startLearning(int32_t parameter) {
    offered = -1;
    learning = parameter;
    learn->arm(parameter);
    showLearn();
}

void StandaloneWindow::cancelLearning() {
    if (learning >= 0 && learn) learn->cancel();
    learning = offered = -1;
    showLearn();
}

void StandaloneWindow::forgetOffered() {
    if (!learn || offered < 0) return;
    const int32_t parameter = offered;
    const int32_t controller = learn->controllerOf(parameter);
    learn->forget(parameter);
    offered = -1;
    notice(std::string(kParamInfo[parameter].longName) + ": CC " + std::to_string(controller) +
           " forgotten");
}

void StandaloneWindow::learnOffered() {
    if (learn && offered >= 0) startLearning(offered);
}

void StandaloneWindow::notice(const std::string& text) {
    noticeText = text;
    noticeUntil = platform::ticks() + kNoticeMs;
    showLearn();
}

void StandaloneWindow::showLearn() {
    if (!bar) return;
    if (learning >= 0) {
        bar->show(ProgramBar::Mode::learning,
                  "Learning " + std::string(kParamInfo[learning].longName) +
                      ": move a controller (Esc or right-click cancels)");
    } else if (offered >= 0 && learn) {
        bar->show(ProgramBar::Mode::offer, std::string(kParamInfo[offered].longName) +
                                               " is on CC " +
                                               std::to_string(learn->controllerOf(offered)));
    } else {
        bar->show(ProgramBar::Mode::program, {});
        bar->setText(noticeText.empty() ? programLabel() : noticeText);
    }
}

void StandaloneWindow::followLearn(uint32_t now) {
    if (!learn) return;
    const uint32_t changes = learn->changes();
    if (changes != seenChanges) {
        seenChanges = changes;
        // A controller came while armed: the binding is made (the count grows after it).
        if (learning >= 0 && learn->armedParameter() != learning) {
            const int32_t parameter = learning;
            const int32_t controller = learn->controllerOf(parameter);
            learning = -1;
            if (controller >= 0)
                notice(std::string(kParamInfo[parameter].longName) + " \u2190 CC " +
                       std::to_string(controller));
            else showLearn();
        } else if (offered >= 0) {
            showLearn();
        }
    }
    if (!noticeText.empty() && !learnBusy() && static_cast<int32_t>(now - noticeUntil) >= 0) {
        noticeText.clear();
        showLearn();
    }
}

std::string StandaloneWindow::barText() const { return bar ? bar->text() : std::string(); }

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
    if (learnBusy() && key.key == gui::CKey::escape) {
        if (down) cancelLearning();
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
