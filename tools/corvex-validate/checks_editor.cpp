// SPDX-License-Identifier: GPL-3.0-or-later
// The editor checks, on X11: the rectangle, opening in a host's window, idling, closing, twenty
// reopenings, a parent window destroyed first, instances closed with their editors open, an editor
// opened twice, opening that changes the program; X errors reaching the host's handler, and
// windows, X connections and file descriptors left behind. Each check opens its own connection
// through the host stand-in.
#include "census.h"
#include "platform/window.h"
#include "hostkit/x11_host_window.h"
#include "validate.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace validate {

namespace {

namespace x11 = hostkit::x11;
using hostkit::Plugin;

bool hasEditor(Context& ctx, Instance& i) {
    if (i.effect()->flags & effFlagsHasEditor) return true;
    ctx.skip(format("no editor (flags 0x%x)", i.effect()->flags));
    return false;
}

bool rectSize(Plugin& p, int32_t* width, int32_t* height) {
    ERect* r = nullptr;
    p.dispatch(effEditGetRect, 0, 0, &r);
    if (!r) return false;
    *width = r->right - r->left;
    *height = r->bottom - r->top;
    return true;
}

bool sane(int32_t width, int32_t height) {
    return width > 0 && height > 0 && width <= 8192 && height <= 8192;
}

// Lets the server and the plug-in settle: the host's events, the editor's idle, a short wait.
void settle(Plugin& p, x11::HostWindow* host, int rounds) {
    for (int n = 0; n < rounds; ++n) {
        if (host) x11::pump(host);
        p.dispatch(effEditIdle);
        platform::sleepMs(10);
    }
}

// Windows the plug-in left in the parent after closing, given a moment to go.
int32_t leftBehind(x11::HostWindow* host) {
    int32_t left = x11::childCount(x11::handle(host));
    for (int n = 0; n < 10 && left > 0; ++n) {
        x11::pump(host);
        platform::sleepMs(20);
        left = x11::childCount(x11::handle(host));
    }
    return left;
}

// Opens the host's error handler for the check's life and judges it at the end.
class ErrorWatch {
public:
    explicit ErrorWatch(Context& context) : ctx(context) { x11::installHostErrorHandler(); }
    ~ErrorWatch() {
        const int32_t errors = x11::hostErrorCount();
        if (errors > 0)
            ctx.fault(4, format("%d X errors reached the host's error handler", errors));
        if (!x11::uninstallHostErrorHandler())
            ctx.fault(6, "the host's X error handler was replaced and not put back");
    }

private:
    Context& ctx;
};

struct HostWindow {
    x11::HostWindow* window;
    // A busy X server refuses a connection now and then; a host would try again.
    explicit HostWindow(int32_t width, int32_t height)
        : window(x11::create(width, height, "corvex-validate")) {
        for (int n = 0; n < 50 && !window; ++n) {
            platform::sleepMs(100);
            window = x11::create(width, height, "corvex-validate");
        }
        if (!window) throw hostkit::HostError("cannot open a window on the X display");
    }
    ~HostWindow() { x11::destroy(window); }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    void* parent() const { return reinterpret_cast<void*>(x11::handle(window)); }
};

// A host window of the size the editor asks for, or 640 x 480 when it names none that is usable.
void hostSizeFor(Plugin& p, int32_t* w, int32_t* h) {
    if (!rectSize(p, w, h) || !sane(*w, *h)) *w = 640, *h = 480;
}

// What most editor checks start from: the host's X error handler watched for the check's life, one
// instance and, when it has an editor, a host window of the size the editor asks for. False (the
// check skipped) when there is no editor. Members go in the reverse order: the window, then the
// instance, then the error handler's verdict.
class EditorSetup {
public:
    explicit EditorSetup(Context& ctx) : watch(ctx), instance(std::in_place, ctx) {
        if (!hasEditor(ctx, *instance)) return;
        int32_t w = 0, h = 0;
        hostSizeFor(plugin(), &w, &h);
        host.emplace(w, h);
    }
    explicit operator bool() const { return host.has_value(); }
    Plugin& plugin() { return instance->plugin(); }
    x11::HostWindow* window() { return host->window; }
    void* parent() const { return host->parent(); }
    // The editor opened in the host's window and idled for `rounds`.
    void open(int rounds) {
        plugin().dispatch(effEditOpen, 0, 0, host->parent());
        settle(plugin(), host->window, rounds);
    }
    // Closes the instance (its editor left as it is) while the host's window stays.
    void closeInstance() { instance.reset(); }

private:
    ErrorWatch watch;
    std::optional<Instance> instance;
    std::optional<HostWindow> host;
};

// ---- What a run of cycles leaves behind --------------------------------------------------------

constexpr int kLeakCycles = 20;

// Counts the process's X connections, top-level windows and file descriptors after the first of a
// run of cycles and after the last, and blames the plug-in for any growth. Not from zero: a
// plug-in may open one connection (or a window, a descriptor) on first use and keep it while it is
// loaded, and the host stand-in holds its own; what must not happen is more of them each cycle.
class LeakWatch {
public:
    explicit LeakWatch(Context& context) : ctx(context) {}

    // kLeakCycles rounds of `round` (which opens and closes the editor its own way), the host's
    // window pumped after each; what is held after the first is the baseline.
    template <class Round> void cycle(x11::HostWindow* host, Round round) {
        for (int n = 0; n < kLeakCycles; ++n) {
            round();
            x11::pump(host);
            if (n == 0) afterFirst(host);
        }
    }

    void afterFirst(x11::HostWindow* host) {
        pause(host, 10);
        first = census::take();
    }

    // Judges the growth since the first cycle, given a moment to go away; false if any.
    bool judge(x11::HostWindow* host, const std::string& what) {
        census::Holdings last = census::take();
        for (int n = 0; n < 20 && grew(last); ++n) {
            pause(host, 1);
            last = census::take();
        }
        bool clean = true;
        const int connections = last.xConnections - first.xConnections;
        if (first.fds >= 0 && last.fds >= 0 && connections > 0) {
            ctx.fault(4, format("%d X connections left open by %s (%d after the first cycle, %d "
                                "after the last)",
                                connections, what.c_str(), first.xConnections, last.xConnections));
            clean = false;
        }
        if (first.topLevels >= 0 && last.topLevels > first.topLevels) {
            ctx.fault(5, format("%d top-level windows left on the display by %s (%d after the "
                                "first cycle, %d after the last)",
                                last.topLevels - first.topLevels, what.c_str(), first.topLevels,
                                last.topLevels));
            clean = false;
        }
        // The X connections are descriptors too: these are the others.
        const int others = last.fds - first.fds - std::max(connections, 0);
        if (first.fds >= 0 && last.fds >= 0 && others > 0) {
            ctx.fault(5, format("%d file descriptors (other than X connections) left open by %s "
                                "(%d after the first cycle, %d after the last)",
                                others, what.c_str(), first.fds, last.fds));
            clean = false;
        }
        if (!clean) return false;
        std::string counted = last.fds >= 0 ? format("X connections %d, file descriptors %d",
                                                     last.xConnections, last.fds)
                                            : std::string("descriptors not counted");
        if (last.topLevels >= 0) counted += format(", top-level windows %d", last.topLevels);
        else counted += ", top-level windows not counted (" + last.whyNoWindows + ")";
        ctx.note(format("no growth after %s: %s", what.c_str(), counted.c_str()));
        return true;
    }

private:
    static void pause(x11::HostWindow* host, int rounds) {
        for (int n = 0; n < rounds; ++n) {
            if (host) x11::pump(host);
            platform::sleepMs(50);
        }
    }
    bool grew(const census::Holdings& now) const {
        return now.xConnections > first.xConnections || now.fds > first.fds ||
               (first.topLevels >= 0 && now.topLevels > first.topLevels);
    }

    Context& ctx;
    census::Holdings first;
};

void editorRect(Context& ctx) {
    Instance i(ctx);
    if (!hasEditor(ctx, i)) return;
    Plugin& p = i.plugin();
    int32_t w = 0, h = 0;
    if (!rectSize(p, &w, &h))
        ctx.warn("no rectangle before the editor opens: hosts size their window from it");
    else if (!sane(w, h)) ctx.fault(5, format("a rectangle of %d x %d before opening", w, h));
    else ctx.note(format("%d x %d before opening", w, h));
    if (ctx.strictness() >= 6) {
        // Hosts idle or close an editor that was never opened.
        p.dispatch(effEditIdle);
        p.dispatch(effEditClose);
    }
}

void editorOpenClose(Context& ctx) {
    EditorSetup setup(ctx);
    if (!setup) return;
    Plugin& p = setup.plugin();
    x11::HostWindow* const window = setup.window();
    setup.open(5);
    int32_t ow = 0, oh = 0;
    if (!rectSize(p, &ow, &oh)) ctx.fault(5, "no rectangle while the editor is open");
    else if (!sane(ow, oh)) ctx.fault(5, format("a rectangle of %d x %d while open", ow, oh));
    const int32_t children = x11::childCount(x11::handle(window));
    if (children <= 0) ctx.fault(5, "no window of the editor inside the host's window");
    settle(p, window, 25);
    p.dispatch(effEditClose);
    if (const int32_t left = leftBehind(window); left > 0)
        ctx.fault(5, format("%d windows left in the host's window after closing", left));
    ctx.note(format("opened %d x %d in the host's window, idled, closed", ow, oh));
}

void editorReopen(Context& ctx) {
    EditorSetup setup(ctx);
    if (!setup) return;
    x11::HostWindow* const window = setup.window();
    LeakWatch leaks(ctx);
    leaks.cycle(window, [&] {
        setup.open(3);
        setup.plugin().dispatch(effEditClose);
    });
    if (const int32_t left = leftBehind(window); left > 0)
        ctx.fault(
            5, format("%d windows left in the host's window after %d openings", left, kLeakCycles));
    leaks.judge(window, format("%d openings and closings", kLeakCycles));
}

void editorParentDestroyed(Context& ctx) {
    EditorSetup setup(ctx);
    if (!setup) return;
    Plugin& p = setup.plugin();
    setup.open(5);
    // The host tears its window down before telling the editor.
    x11::destroyWindowOnly(setup.window());
    settle(p, nullptr, 5);
    p.dispatch(effEditClose);
    platform::sleepMs(50);
    ctx.note("idled and closed after the host's window was gone");
}

void editorCloseWhileOpen(Context& ctx) {
    ErrorWatch watch(ctx);
    // Hosts do close an instance whose editor is open, on a crash path or a hurried quit: the
    // editor's window and whatever it holds of the X server must go with it.
    std::unique_ptr<HostWindow> host;
    LeakWatch leaks(ctx);
    for (int n = 0; n < kLeakCycles; ++n) {
        {
            Instance i(ctx);
            Plugin& p = i.plugin();
            if (n == 0) {
                if (!hasEditor(ctx, i)) return;
                int32_t w = 0, h = 0;
                hostSizeFor(p, &w, &h);
                host = std::make_unique<HostWindow>(w, h);
            }
            p.dispatch(effEditOpen, 0, 0, host->parent());
            settle(p, host->window, 3);
        }
        x11::pump(host->window);
        if (n == 0) leaks.afterFirst(host->window);
    }
    const std::string what = format("%d instances closed with their editors open", kLeakCycles);
    if (const int32_t left = leftBehind(host->window); left > 0)
        ctx.fault(5, format("%d windows left in the host's window by %s", left, what.c_str()));
    leaks.judge(host->window, what);
}

void editorOpenTwice(Context& ctx) {
    ErrorWatch watch(ctx);
    // Some hosts send a second effEditOpen to an editor that is open (reattaching it, or by
    // mistake). Refusing it or opening afresh are both fine; losing track of the first is not.
    EditorSetup setup(ctx);
    if (!setup) return;
    Plugin& p = setup.plugin();
    x11::HostWindow* const window = setup.window();
    LeakWatch leaks(ctx);
    int refused = 0;
    leaks.cycle(window, [&] {
        setup.open(3);
        const intptr_t second = p.dispatch(effEditOpen, 0, 0, setup.parent());
        refused += second == 0;
        settle(p, window, 3);
        p.dispatch(effEditClose);
    });
    const std::string what = format("%d double openings", kLeakCycles);
    if (const int32_t left = leftBehind(window); left > 0)
        ctx.fault(5, format("%d windows left in the host's window after %s, each closed once", left,
                            what.c_str()));
    if (!leaks.judge(window, what)) return;
    setup.closeInstance();
    x11::pump(window);
    leaks.judge(window, what + " and the instance closed");
    ctx.note(format("%d of %d second openings answered 0", refused, kLeakCycles));
}

// The current program as a host sees it.
struct ProgramView {
    intptr_t index = 0;
    std::string name;
    std::vector<float> values;
};

ProgramView viewProgram(Plugin& p) {
    ProgramView v;
    v.index = p.dispatch(effGetProgram);
    char name[512] = {};
    if (p.numPrograms() > 0) p.dispatch(effGetProgramName, 0, 0, name);
    name[sizeof name - 1] = '\0';
    v.name = name;
    for (int32_t k = 0; k < p.numParams(); ++k) v.values.push_back(p.getParameter(k));
    return v;
}

// Reports what `step` changed between two views of the program; false if anything.
bool compareProgram(Context& ctx, Plugin& p, const ProgramView& was, const ProgramView& now,
                    const char* step) {
    bool same = true;
    if (now.index != was.index) {
        ctx.fault(4, format("%s selected program %ld (was %ld)", step, static_cast<long>(now.index),
                            static_cast<long>(was.index)));
        same = false;
    }
    if (now.name != was.name) {
        ctx.fault(4,
                  format("%s renamed program %ld from %s to %s", step, static_cast<long>(was.index),
                         quoted(was.name).c_str(), quoted(now.name).c_str()));
        same = false;
    }
    int changed = 0;
    for (std::size_t k = 0; k < was.values.size() && k < now.values.size(); ++k) {
        const float a = was.values[k], b = now.values[k];
        // A knob's own rounding may touch the last bits; a user hears nothing of that.
        if ((std::isnan(a) && std::isnan(b)) || std::fabs(a - b) <= 1e-6f) continue;
        if (++changed <= 8)
            ctx.fault(4, format("%s changed parameter %zu %s from %g to %g", step, k,
                                quoted(p.paramName(static_cast<int32_t>(k))).c_str(),
                                static_cast<double>(a), static_cast<double>(b)));
    }
    if (changed > 8) ctx.fault(4, format("%s changed %d parameters in all", step, changed));
    return same && changed == 0;
}

void editorOpenKeepsProgram(Context& ctx) {
    EditorSetup setup(ctx);
    if (!setup) return;
    Plugin& p = setup.plugin();
    // What a user has done before opening the window: renamed the program, turned a few knobs to
    // values no factory program has. The editor must show them, not put its own in their place.
    char name[] = "My Patch";
    if (p.numPrograms() > 0) p.dispatch(effSetProgramName, 0, 0, name);
    static constexpr float kOdd[] = {0.61f, 0.37f, 0.13f, 0.89f, 0.29f, 0.71f, 0.53f, 0.07f};
    const int32_t count = p.numParams();
    const int32_t turned = std::min<int32_t>(count, 8);
    for (int32_t k = 0; k < turned; ++k)
        p.setParameter(static_cast<int32_t>(int64_t{k} * count / turned), kOdd[k]);
    const ProgramView before = viewProgram(p);
    setup.open(10);
    const ProgramView open = viewProgram(p);
    p.dispatch(effEditClose);
    x11::pump(setup.window());
    platform::sleepMs(50);
    const ProgramView after = viewProgram(p);
    if (!compareProgram(ctx, p, before, open, "opening the editor")) return;
    if (!compareProgram(ctx, p, open, after, "closing the editor")) return;
    ctx.note(format("program %ld %s and %zu parameter values (%d of them set) unchanged",
                    static_cast<long>(before.index), quoted(before.name).c_str(),
                    before.values.size(), turned));
}

}  // namespace

bool displayReachable() {
    x11::HostWindow* probe = x11::create(1, 1, "corvex-validate");
    if (!probe) return false;
    x11::destroy(probe);
    return true;
}

std::vector<CheckDef> editorChecks() {
    return {
        {"editor.rect", 1, true, editorRect},
        {"editor.open-close", 1, true, editorOpenClose},
        {"editor.reopen", 2, true, editorReopen},
        {"editor.parent-destroyed", 3, true, editorParentDestroyed},
        {"editor.close-while-open", 2, true, editorCloseWhileOpen},
        {"editor.open-twice", 3, true, editorOpenTwice},
        {"editor.open-keeps-program", 2, true, editorOpenKeepsProgram},
    };
}

}  // namespace validate
