// The editor checks, on X11: the rectangle, opening in a host's window, idling, closing, twenty
// reopenings, a parent window destroyed first, X errors reaching the host's handler and windows
// left behind. Each check opens its own connection through the host stand-in.
#include "platform/window.h"
#include "testkit/x11_host.h"
#include "validate.h"

namespace validate {

namespace {

namespace x11 = testkit::x11host;
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
int32_t leftBehind(Plugin& p, x11::HostWindow* host) {
    int32_t left = x11::childCount(x11::handle(host));
    for (int n = 0; n < 10 && left > 0; ++n) {
        x11::pump(host);
        platform::sleepMs(20);
        left = x11::childCount(x11::handle(host));
    }
    (void)p;
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
    explicit HostWindow(int32_t width, int32_t height) {
        // A busy X server refuses a connection now and then; a host would try again.
        window = x11::create(width, height, "corvex-validate");
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
HostWindow hostWindowFor(Plugin& p) {
    int32_t w = 640, h = 480;
    if (!rectSize(p, &w, &h) || !sane(w, h)) w = 640, h = 480;
    return HostWindow(w, h);
}

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
    ErrorWatch watch(ctx);
    Instance i(ctx);
    if (!hasEditor(ctx, i)) return;
    Plugin& p = i.plugin();
    HostWindow host = hostWindowFor(p);
    p.dispatch(effEditOpen, 0, 0, host.parent());
    settle(p, host.window, 5);
    int32_t ow = 0, oh = 0;
    if (!rectSize(p, &ow, &oh)) ctx.fault(5, "no rectangle while the editor is open");
    else if (!sane(ow, oh)) ctx.fault(5, format("a rectangle of %d x %d while open", ow, oh));
    const int32_t children = x11::childCount(x11::handle(host.window));
    if (children <= 0) ctx.fault(5, "no window of the editor inside the host's window");
    settle(p, host.window, 25);
    p.dispatch(effEditClose);
    if (const int32_t left = leftBehind(p, host.window); left > 0)
        ctx.fault(5, format("%d windows left in the host's window after closing", left));
    ctx.note(format("opened %d x %d in the host's window, idled, closed", ow, oh));
}

void editorReopen(Context& ctx) {
    ErrorWatch watch(ctx);
    Instance i(ctx);
    if (!hasEditor(ctx, i)) return;
    Plugin& p = i.plugin();
    HostWindow host = hostWindowFor(p);
    for (int n = 0; n < 20; ++n) {
        p.dispatch(effEditOpen, 0, 0, host.parent());
        settle(p, host.window, 3);
        p.dispatch(effEditClose);
        x11::pump(host.window);
    }
    if (const int32_t left = leftBehind(p, host.window); left > 0)
        ctx.fault(5, format("%d windows left in the host's window after 20 openings", left));
    ctx.note("opened and closed 20 times");
}

void editorParentDestroyed(Context& ctx) {
    ErrorWatch watch(ctx);
    Instance i(ctx);
    if (!hasEditor(ctx, i)) return;
    Plugin& p = i.plugin();
    HostWindow host = hostWindowFor(p);
    p.dispatch(effEditOpen, 0, 0, host.parent());
    settle(p, host.window, 5);
    // The host tears its window down before telling the editor.
    x11::destroyWindowOnly(host.window);
    settle(p, nullptr, 5);
    p.dispatch(effEditClose);
    platform::sleepMs(50);
    ctx.note("idled and closed after the host's window was gone");
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
    };
}

}  // namespace validate
