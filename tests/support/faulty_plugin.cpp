// SPDX-License-Identifier: GPL-3.0-or-later
// A small, well-behaved VST2 instrument (a sine voice, two parameters, two programs) that commits
// one fault on demand, so that the validator's checks are seen to catch what they claim. The
// environment variable CORVEX_FAULT, read at the entry point, picks the fault:
//   (unset)       none: the instrument passes every check at the highest strictness
//   overrun       processReplacing writes one sample past the frames it was given
//   nan           the output turns non-finite after a few blocks
//   unterminated  parameter names come without a terminator
//   exception     asking a parameter's name throws a C++ exception into the host
//   crashclose    closing the effect dereferences null
//   early         events sound at the start of their block, not at their offset
//   stuck         all-notes-off is ignored and notes never end
//   nanparam      a NaN parameter value reaches the sound (no host sends one)
//   hot           the output sits a hair above +6 dBFS
//   overwrite     process() replaces instead of adding (fine for interface 2.4, answered)
//   overwrite2300 the same, answering interface version 2300
// The modes below, and only they, have an editor: a child window of the host's, on a connection
// opened with the editor and closed with the effect unless the mode says otherwise.
//   editor        a well-behaved editor; a second open while open is refused
//   sharededitor  a well-behaved editor on one connection kept for the library's life
//   editorleak    the window outlives its closing
//   xerror        the window is destroyed twice, the second time into the host's X error handler
//   closeleak     closing the effect with the editor open keeps the editor's connection
//   twiceleak     a second open while open starts afresh on a new connection, dropping the old
//   toplevelleak  each opening leaves a top-level window on the shared connection
//   fdleak        each opening leaves a file descriptor open
//   renameonopen  opening renames the current program back to its factory name
//   resetonopen   opening puts parameter 1 back to 0.5
#include "host/aeffect.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

constexpr int kMaxPending = 256;
constexpr double kTwoPi = 6.283185307179586;

struct Pending {
    int32_t delta;
    int note;  // -1: all notes off
    bool on;
};

struct Faulty {
    AEffect record{};
    std::string mode;
    std::atomic<float> params[2] = {0.5f, 0.5f};
    std::atomic<int32_t> program{0};
    char names[2][24] = {"First", "Second"};
    float rate = 44100.0f;
    int note = -1;
    double phase = 0.0;
    int blocks = 0;
    int pending = 0;
    Pending queue[kMaxPending] = {};
    ERect rect{0, 0, 100, 200};
    Display* display = nullptr;
    ::Window window = 0;
};

const char* const kFactoryNames[2] = {"First", "Second"};

bool hasEditor(const std::string& mode) {
    for (const char* m : {"editor", "sharededitor", "editorleak", "xerror", "closeleak",
                          "twiceleak", "toplevelleak", "fdleak", "renameonopen", "resetonopen"})
        if (mode == m) return true;
    return false;
}

bool sharesConnection(const std::string& mode) {
    return mode == "sharededitor" || mode == "toplevelleak";
}

// Opened on first use, never closed: what a plug-in keeping one connection for its life does.
Display* sharedDisplay = nullptr;

// The editor: a plain child window of the host's.
intptr_t openEditor(Faulty* f, void* parent) {
    if (!parent) return 0;
    if (f->window) {
        if (f->mode != "twiceleak") return 0;
        XDestroyWindow(f->display, f->window);
        XSync(f->display, False);
        f->window = 0;
        f->display = nullptr;
    }
    if (sharesConnection(f->mode)) {
        if (!sharedDisplay) sharedDisplay = XOpenDisplay(nullptr);
        f->display = sharedDisplay;
    } else if (!f->display) f->display = XOpenDisplay(nullptr);
    if (!f->display) return 0;
    f->window = XCreateSimpleWindow(f->display, reinterpret_cast<::Window>(parent), 0, 0, 200, 100,
                                    0, 0, 0x404040);
    XSelectInput(f->display, f->window, StructureNotifyMask);
    XMapWindow(f->display, f->window);
    if (f->mode == "toplevelleak")
        XCreateSimpleWindow(f->display, DefaultRootWindow(f->display), 0, 0, 1, 1, 0, 0, 0);
    if (f->mode == "fdleak") (void)::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (f->mode == "renameonopen")
        std::snprintf(f->names[f->program], sizeof f->names[0], "%s", kFactoryNames[f->program]);
    if (f->mode == "resetonopen") f->params[1] = 0.5f;
    XSync(f->display, False);
    return 1;
}

// Reads the editor's events: its window is gone when the host destroyed the parent first.
void takeEditorEvents(Faulty* f) {
    if (!f->display) return;
    XSync(f->display, False);
    while (XPending(f->display) > 0) {
        XEvent ev;
        XNextEvent(f->display, &ev);
        if (ev.type == DestroyNotify && ev.xdestroywindow.window == f->window) f->window = 0;
    }
}

void closeEditor(Faulty* f) {
    takeEditorEvents(f);
    if (!f->window) return;
    if (f->mode != "editorleak") {
        XDestroyWindow(f->display, f->window);
        if (f->mode == "xerror") XDestroyWindow(f->display, f->window);
        XSync(f->display, False);
    }
    f->window = 0;
}

Faulty* self(AEffect* e) { return static_cast<Faulty*>(e->object); }

// Cuts the text to the host's buffer of `size` bytes, terminator included.
void copy(void* ptr, const char* text, std::size_t size) {
    if (!ptr || size == 0) return;
    const std::size_t n = std::min(std::strlen(text), size - 1);
    std::memcpy(ptr, text, n);
    static_cast<char*>(ptr)[n] = '\0';
}

void takeEvents(Faulty* f, const VstEvents* events) {
    if (!events) return;
    const VstEvent* const* list = events->events;
    for (int32_t i = 0; i < events->numEvents && f->pending < kMaxPending; ++i) {
        const VstEvent* ev = list[i];
        if (!ev || ev->type != kVstMidiType) continue;
        const auto* m = reinterpret_cast<const VstMidiEvent*>(ev);
        const int status = static_cast<uint8_t>(m->midiData[0]) & 0xF0;
        const int data1 = m->midiData[1] & 0x7F, data2 = m->midiData[2] & 0x7F;
        Pending p{m->deltaFrames > 0 ? m->deltaFrames : 0, data1, true};
        if (f->mode == "early") p.delta = 0;
        if (status == 0x90 && data2 > 0) p.on = true;
        else if (status == 0x80 || status == 0x90) p.on = false;
        else if (status == 0xB0 && data1 == 123) {
            if (f->mode == "stuck") continue;
            p.note = -1;
            p.on = false;
        } else continue;
        f->queue[f->pending++] = p;
    }
}

void apply(Faulty* f, const Pending& p) {
    if (p.on) f->note = p.note;
    else if (p.note < 0 || p.note == f->note) f->note = f->mode == "stuck" ? f->note : -1;
}

void render(Faulty* f, float** outputs, int32_t frames, bool add) {
    if (frames <= 0 || !outputs) return;
    const double gain = 0.25 * f->params[0].load();
    for (int32_t s = 0; s < frames; ++s) {
        for (int i = 0; i < f->pending; ++i) {
            const int32_t at = f->queue[i].delta < frames ? f->queue[i].delta : frames - 1;
            if (at == s) apply(f, f->queue[i]);
        }
        float v = 0.0f;
        if (f->note >= 0) {
            v = static_cast<float>(gain * std::sin(f->phase));
            f->phase += kTwoPi * 440.0 * std::pow(2.0, (f->note - 69) / 12.0) / f->rate;
            if (f->phase >= kTwoPi) f->phase -= kTwoPi;
        }
        if (f->mode == "nan" && f->blocks > 4) v = std::nanf("");
        if (f->mode == "hot") v = std::nextafter(2.0f, 3.0f);
        const bool replace = !add || f->mode == "overwrite" || f->mode == "overwrite2300";
        for (int c = 0; c < 2; ++c) outputs[c][s] = replace ? v : outputs[c][s] + v;
    }
    f->pending = 0;
    if (f->mode == "overrun") outputs[0][frames] = 0.5f;
    ++f->blocks;
}

intptr_t dispatcher(AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt) {
    Faulty* f = self(e);
    const bool validParam = index >= 0 && index < 2;
    switch (opcode) {
    case effClose: {
        if (f->mode == "crashclose") *static_cast<volatile int*>(nullptr) = 1;
        const bool keep = f->mode == "editorleak" || sharesConnection(f->mode) ||
                          (f->mode == "closeleak" && f->window);
        closeEditor(f);
        if (f->display && !keep) XCloseDisplay(f->display);
        delete f;
        return 1;
    }
    case effSetProgram:
        if (value >= 0 && value < 2) {
            f->program = static_cast<int32_t>(value);
            f->params[0] = value == 0 ? 0.5f : 0.8f;
            f->params[1] = value == 0 ? 0.5f : 0.2f;
        }
        return 0;
    case effGetProgram: return f->program;
    case effSetProgramName:
        if (ptr) copy(f->names[f->program], static_cast<const char*>(ptr), 24);
        return 0;
    case effGetProgramName: copy(ptr, f->names[f->program], 24); return 0;
    case effGetProgramNameIndexed:
        if (index < 0 || index >= 2) return 0;
        copy(ptr, f->names[index], 24);
        return 1;
    case effGetParamName:
        if (f->mode == "exception") throw std::runtime_error("no name today");
        if (f->mode == "unterminated" && validParam && ptr) {
            std::memcpy(ptr, "NameWithoutEnd", 14);
            return 0;
        }
        copy(ptr, !validParam ? "" : index == 0 ? "Gain" : "Tone", 9);
        return 0;
    case effGetParamLabel: copy(ptr, validParam && index == 0 ? "x" : "", 9); return 0;
    case effGetParamDisplay: {
        char text[16];
        std::snprintf(text, sizeof text, "%.3f", validParam ? f->params[index].load() : 0.0f);
        copy(ptr, text, 9);
        return 0;
    }
    case effSetSampleRate:
        if (std::isfinite(opt) && opt > 0.0f) f->rate = opt;
        return 0;
    case effProcessEvents: takeEvents(f, static_cast<const VstEvents*>(ptr)); return 1;
    case effString2Parameter:
        if (!validParam || !ptr) return 0;
        f->params[index] =
            std::fmin(1.0f, std::fmax(0.0f, std::strtof(static_cast<char*>(ptr), nullptr)));
        return 1;
    case effGetEffectName: copy(ptr, "Faulty", 32); return 1;
    case effGetVendorString: copy(ptr, "Corvex tests", 64); return 1;
    case effGetProductString: copy(ptr, "Faulty", 64); return 1;
    case effGetPlugCategory: return kPlugCategSynth;
    case effGetVstVersion: return f->mode == "overwrite2300" ? 2300 : 2400;
    case effEditGetRect:
        if (!(e->flags & effFlagsHasEditor) || !ptr) return 0;
        *static_cast<ERect**>(ptr) = &f->rect;
        return 1;
    case effEditOpen: return e->flags & effFlagsHasEditor ? openEditor(f, ptr) : 0;
    case effEditClose: closeEditor(f); return 0;
    case effEditIdle: takeEditorEvents(f); return 0;
    case effCanDo:
        return ptr && (std::strcmp(static_cast<const char*>(ptr), "receiveVstMidiEvent") == 0 ||
                       std::strcmp(static_cast<const char*>(ptr), "receiveVstEvents") == 0)
                   ? 1
                   : 0;
    default: return 0;
    }
}

void processReplacing(AEffect* e, float**, float** outputs, int32_t frames) {
    render(self(e), outputs, frames, false);
}
void process(AEffect* e, float**, float** outputs, int32_t frames) {
    render(self(e), outputs, frames, true);
}
void setParameter(AEffect* e, int32_t index, float value) {
    if (index < 0 || index >= 2) return;
    if (std::isnan(value) && self(e)->mode == "nanparam") self(e)->params[index] = value;
    if (!std::isfinite(value)) return;
    self(e)->params[index] = std::fmin(1.0f, std::fmax(0.0f, value));
}
float getParameter(AEffect* e, int32_t index) {
    return index >= 0 && index < 2 ? self(e)->params[index].load() : 0.0f;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host) {
    if (!host || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    auto* f = new Faulty;
    const char* mode = std::getenv("CORVEX_FAULT");
    f->mode = mode ? mode : "";
    AEffect& r = f->record;
    r.magic = kEffectMagic;
    r.dispatcher = dispatcher;
    r.process = process;
    r.processReplacing = processReplacing;
    r.setParameter = setParameter;
    r.getParameter = getParameter;
    r.numPrograms = 2;
    r.numParams = 2;
    r.numInputs = 0;
    r.numOutputs = 2;
    r.flags = effFlagsCanReplacing | effFlagsIsSynth;
    if (hasEditor(f->mode)) r.flags |= effFlagsHasEditor;
    r.ioRatio = 1.0f;
    r.object = f;
    r.uniqueID = fourCharCode('F', 'l', 't', 'y');
    r.version = 1;
    return &r;
}
