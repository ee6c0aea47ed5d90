// SPDX-License-Identifier: GPL-3.0-or-later
// The X11 window system through Xlib. Every window, child or top-level, has a display connection
// of its own, so that its events never mix with the host's or another window's; there is no event
// loop of ours: the owner pumps the connection from the host's idle calls. Errors of our connection
// are swallowed by a handler installed only around our own calls; the host's handler sees
// everything else.
#include "platform/window.h"
#include "raster_internal.h"
#include "x11_internal.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

// ---- Error trap ------------------------------------------------------------------------------

namespace {
std::vector<Display*> gTrapped;
XErrorHandler gPreviousHandler = nullptr;
int gLastError = 0;

int trapHandler(Display* display, XErrorEvent* error) {
    if (std::find(gTrapped.begin(), gTrapped.end(), display) != gTrapped.end()) {
        gLastError = error->error_code;
        return 0;
    }
    return gPreviousHandler ? gPreviousHandler(display, error) : 0;
}
}  // namespace

ErrorTrap::ErrorTrap(Display* display) : display(display) {
    if (gTrapped.empty()) gPreviousHandler = XSetErrorHandler(&trapHandler);
    gTrapped.push_back(display);
    savedError = gLastError;
    gLastError = 0;
}

bool ErrorTrap::sync() {
    if (display) XSync(display, False);
    return gLastError == 0;
}

void ErrorTrap::release(bool syncFirst) {
    if (!active) return;
    if (syncFirst && display) XSync(display, False);
    active = false;
    auto it = std::find(gTrapped.rbegin(), gTrapped.rend(), display);
    if (it != gTrapped.rend()) gTrapped.erase(std::next(it).base());
    if (gTrapped.empty()) XSetErrorHandler(gPreviousHandler);
    gLastError = savedError;
}

ErrorTrap::~ErrorTrap() { release(true); }

int ErrorTrap::lastError() const { return gLastError; }

// ---- Window class and settings ---------------------------------------------------------------

namespace {
int32_t gClassUses = 0;
bool gSwapped = false;
bool gSwappedKnown = false;

void readSwapped(Display* d) {
    unsigned char map[16] = {};
    const int n = XGetPointerMapping(d, map, 16);
    gSwapped = n >= 3 && map[0] == 3 && map[2] == 1;
    gSwappedKnown = true;
}
}  // namespace

int32_t registerWindowClass() {
    if (++gClassUses == 1) gSwappedKnown = false;
    return gClassUses;
}
int32_t unregisterWindowClass() {
    if (gClassUses > 0) --gClassUses;
    return gClassUses;
}
int32_t windowClassUseCount() { return gClassUses; }
bool swappedMouseButtons() { return gSwapped; }

int32_t desktopScale(NativeWindow) {
    const char* own = std::getenv("CORVEX_SCALE");
    const char* gdk = std::getenv("GDK_SCALE");
    const char* qt = std::getenv("QT_SCALE_FACTOR");
    // The variables decide when the desktop's dpi could not change the answer.
    const int32_t byVariables = pickScale(own, gdk, qt, 0);
    if (byVariables == pickScale(own, gdk, qt, 96.0 * kMaxScale)) return byVariables;
    // Only when no variable decided: a connection of its own, for as long as the read takes.
    double dpi = 0;
    if (Display* d = XOpenDisplay(nullptr)) {
        dpi = xftDpi(XResourceManagerString(d));
        XCloseDisplay(d);
    }
    return pickScale(nullptr, nullptr, nullptr, dpi);
}

// ---- Time ------------------------------------------------------------------------------------

uint32_t ticks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void sleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

// X has no double-click setting of its own.
uint32_t doubleClickTime() { return 500; }

// ---- Windows ---------------------------------------------------------------------------------

namespace {

void destroyImage(Window* w) {
    if (w->ximage) {
        w->ximage->data = nullptr;  // the pixels belong to the bitmap or the segment
        XDestroyImage(w->ximage);
        w->ximage = nullptr;
    }
    if (w->image) {
        deleteBitmap(w->image);
        w->image = nullptr;
    }
    if (w->useShm) {
        XShmDetach(w->display, &w->shm);
        shmdt(w->shm.shmaddr);
        w->useShm = false;
        w->shm = {};
    }
}

// The window's backing image: in a shared-memory segment when the server can read one, else in
// our own memory, sent with XPutImage.
bool createImage(Window* w, int32_t width, int32_t height) {
    if (XShmQueryExtension(w->display)) {
        XImage* img = XShmCreateImage(w->display, w->visual, 24, ZPixmap, nullptr, &w->shm,
                                      static_cast<unsigned>(width), static_cast<unsigned>(height));
        if (img && img->bits_per_pixel == 32 && img->bytes_per_line == width * 4) {
            w->shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(img->bytes_per_line) * height,
                                  IPC_CREAT | 0600);
            if (w->shm.shmid >= 0) {
                void* addr = shmat(w->shm.shmid, nullptr, 0);
                if (addr != reinterpret_cast<void*>(-1)) {
                    w->shm.shmaddr = img->data = static_cast<char*>(addr);
                    w->shm.readOnly = False;
                    ErrorTrap trap(w->display);
                    const bool attached = XShmAttach(w->display, &w->shm) && trap.sync();
                    trap.release(false);
                    // Marked for removal now: it goes away with the last detach, even after a
                    // crash.
                    shmctl(w->shm.shmid, IPC_RMID, nullptr);
                    if (attached) {
                        w->ximage = img;
                        w->useShm = true;
                        w->image = wrapPixels(reinterpret_cast<uint32_t*>(addr), width, height,
                                              width, w->scale);
                        if (w->image) return true;
                        destroyImage(w);
                        return false;
                    }
                    shmdt(addr);
                } else {
                    shmctl(w->shm.shmid, IPC_RMID, nullptr);
                }
            }
        }
        if (img) {
            img->data = nullptr;
            XDestroyImage(img);
        }
        w->shm = {};
    }
    w->image = createBitmap(width, height);
    if (!w->image) return false;
    w->image->scale = w->scale;
    w->ximage = XCreateImage(
        w->display, w->visual, 24, ZPixmap, 0, reinterpret_cast<char*>(w->image->pixels),
        static_cast<unsigned>(width), static_cast<unsigned>(height), 32, width * 4);
    if (!w->ximage || w->ximage->bits_per_pixel != 32) {
        destroyImage(w);
        return false;
    }
    w->ximage->byte_order = LSBFirst;  // our words, in our byte order; Xlib swaps if it must
    return true;
}

void present(Window* w, Rect r) {
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, w->width);
    r.bottom = std::min(r.bottom, w->height);
    if (r.left >= r.right || r.top >= r.bottom || !w->alive) return;
    ErrorTrap trap(w->display);
    if (w->useShm)
        XShmPutImage(w->display, w->window, w->gc, w->ximage, r.left, r.top, r.left, r.top,
                     static_cast<unsigned>(r.right - r.left),
                     static_cast<unsigned>(r.bottom - r.top), False);
    else
        XPutImage(w->display, w->window, w->gc, w->ximage, r.left, r.top, r.left, r.top,
                  static_cast<unsigned>(r.right - r.left), static_cast<unsigned>(r.bottom - r.top));
    // The sync in the trap also guarantees the server has read the shared image before we draw
    // into it again.
}

unsigned leftButton() { return gSwapped ? Button3 : Button1; }

}  // namespace

namespace {

// What both kinds of window share: the visual's colormap, the window under parent (the root for
// 0) with the events asked for, its GC and its class.
bool createNative(Window* w, const XVisualInfo& vi, int screen, ::Window parent, long eventMask,
                  const char* className, ErrorTrap& trap) {
    Display* d = w->display;
    w->visual = vi.visual;
    w->root = RootWindow(d, screen);
    if (!parent) parent = w->parent = w->root;
    w->colormap = XCreateColormap(d, w->root, vi.visual, AllocNone);
    XSetWindowAttributes a{};
    a.colormap = w->colormap;
    a.border_pixel = 0;
    a.background_pixmap = None;
    a.bit_gravity = NorthWestGravity;
    a.event_mask = eventMask;
    w->window =
        XCreateWindow(d, parent, 0, 0, static_cast<unsigned>(w->width),
                      static_cast<unsigned>(w->height), 0, 24, InputOutput, vi.visual,
                      CWColormap | CWBorderPixel | CWBackPixmap | CWBitGravity | CWEventMask, &a);
    if (!trap.sync() || w->window == 0) return false;
    w->gc = XCreateGC(d, w->window, 0, nullptr);
    if (!gSwappedKnown) readSwapped(d);
    XClassHint hint{const_cast<char*>("corvex"),
                    const_cast<char*>(className ? className : "Plugin")};
    XSetClassHint(d, w->window, &hint);
    return true;
}

// The end both kinds of window share: shown when everything before succeeded, else undone,
// connection included.
Window* finishWindow(std::unique_ptr<Window> w, ErrorTrap& trap, bool ok) {
    Display* d = w->display;
    if (ok) {
        XMapWindow(d, w->window);
        ok = trap.sync();
    }
    if (ok) return w.release();
    destroyImage(w.get());
    if (w->gc) XFreeGC(d, w->gc);
    if (w->window) XDestroyWindow(d, w->window);
    if (w->colormap) XFreeColormap(d, w->colormap);
    trap.release(true);
    XCloseDisplay(d);
    return nullptr;
}

}  // namespace

Window* createChildWindow(const WindowOptions& o) {
    if (o.parent == 0 || o.width <= 0 || o.height <= 0 || o.scale < 1 || o.scale > kMaxScale ||
        o.width > kMaxBitmapSide / o.scale || o.height > kMaxBitmapSide / o.scale)
        return nullptr;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return nullptr;
    auto w = std::make_unique<Window>();
    w->display = d;
    w->parent = static_cast<::Window>(o.parent);
    w->events = o.events;
    w->dispatch.bind(o.events, &w->contexts);
    w->dispatch.setScale(o.scale);
    w->scale = o.scale;
    w->width = o.width * o.scale;
    w->height = o.height * o.scale;
    w->atoms.init(d);
    ErrorTrap trap(d);
    XWindowAttributes pa{};
    XVisualInfo vi{};
    const int screen = DefaultScreen(d);
    bool ok = XGetWindowAttributes(d, w->parent, &pa) != 0 && trap.sync() &&
              XMatchVisualInfo(d, screen, 24, TrueColor, &vi) != 0;
    ok =
        ok && createNative(w.get(), vi, screen, w->parent,
                           ExposureMask | ButtonPressMask | StructureNotifyMask, o.className, trap);
    if (ok) {
        // Hosts that embed by the XEMBED rules wait for the mapped flag.
        const long info[2] = {0, 1};
        XChangeProperty(d, w->window, w->atoms.xembedInfo, w->atoms.xembedInfo, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(info), 2);
        ok = trap.sync() && createImage(w.get(), w->width, w->height);
    }
    return finishWindow(std::move(w), trap, ok);
}

namespace {

// WM_NAME is Latin-1 by its definition; whatever it cannot hold becomes '?'. Window managers of
// this century read _NET_WM_NAME, which has the title as it is.
void setTitle(Window* w, const std::string& utf8) {
    std::string latin1;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t c = lead;
        if (n == 2 && i + 1 < utf8.size())
            c = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
        latin1.push_back(n == 1 || (n == 2 && c <= 0xFF) ? static_cast<char>(c) : '?');
        i += n;
    }
    XChangeProperty(w->display, w->window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin1.data()),
                    static_cast<int>(latin1.size()));
    XChangeProperty(w->display, w->window, w->atoms.netWmName, w->atoms.utf8String, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(utf8.data()),
                    static_cast<int>(utf8.size()));
}

// _NET_WM_ICON: for each icon its width, its height, then its rows of ARGB pixels, every number
// a CARDINAL, which Xlib takes as a long whatever the long's size.
void setIcon(Window* w, Bitmap* const* icons, int32_t count) {
    std::vector<unsigned long> data;
    for (int32_t i = 0; icons && i < count; ++i) {
        Bitmap* icon = icons[i];
        int32_t stride = 0;
        const uint32_t* pixels = icon ? bitmapPixels(icon, &stride) : nullptr;
        const int32_t width = icon ? bitmapWidth(icon) : 0, height = icon ? bitmapHeight(icon) : 0;
        if (!pixels || width < 1 || height < 1 || width > kMaxIconSide || height > kMaxIconSide)
            continue;
        data.push_back(static_cast<unsigned long>(width));
        data.push_back(static_cast<unsigned long>(height));
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                data.push_back(0xFF000000ul | (pixels[y * stride + x] & 0xFFFFFFu));
    }
    if (data.empty()) return;
    XChangeProperty(w->display, w->window, w->atoms.netWmIcon, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<int>(data.size()));
}

}  // namespace

Window* createTopLevelWindow(const TopLevelOptions& o) {
    if (o.width <= 0 || o.height <= 0 || o.scale < 1 || o.scale > kMaxScale ||
        o.width > kMaxBitmapSide / o.scale || o.height > kMaxBitmapSide / o.scale)
        return nullptr;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return nullptr;
    auto w = std::make_unique<Window>();
    w->display = d;
    w->topLevel = true;
    w->events = o.events;
    w->dispatch.bind(o.events, &w->contexts, w.get());
    w->dispatch.setScale(o.scale);
    w->scale = o.scale;
    w->width = o.width * o.scale;
    w->height = o.height * o.scale;
    w->atoms.init(d);
    w->atoms.initTopLevel(d);
    ErrorTrap trap(d);
    XVisualInfo vi{};
    const int screen = DefaultScreen(d);
    bool ok = XMatchVisualInfo(d, screen, 24, TrueColor, &vi) != 0;
    ok = ok && createNative(w.get(), vi, screen, 0,
                            ExposureMask | ButtonPressMask | StructureNotifyMask | KeyPressMask |
                                KeyReleaseMask | FocusChangeMask,
                            o.className, trap);
    if (ok) {
        XSetWMProtocols(d, w->window, &w->atoms.wmDeleteWindow, 1);
        if (XSizeHints* size = XAllocSizeHints()) {
            size->flags = PMinSize;
            size->min_width =
                (o.minWidth > 0 && o.minWidth <= o.width ? o.minWidth : o.width) * o.scale;
            size->min_height =
                (o.minHeight > 0 && o.minHeight <= o.height ? o.minHeight : o.height) * o.scale;
            XSetWMNormalHints(d, w->window, size);
            XFree(size);
        }
        // The keyboard comes to us when the window manager gives it; we never take it.
        if (XWMHints* hints = XAllocWMHints()) {
            hints->flags = InputHint | StateHint;
            hints->input = True;
            hints->initial_state = NormalState;
            XSetWMHints(d, w->window, hints);
            XFree(hints);
        }
        setTitle(w.get(), windowTitleText(o.title));
        setIcon(w.get(), o.icons, o.iconCount);
        // A held key then repeats as presses alone, without a release before each; servers
        // without it are handled when the events arrive.
        Bool detectable = False;
        XkbSetDetectableAutoRepeat(d, True, &detectable);
        ok = trap.sync() && createImage(w.get(), w->width, w->height);
    }
    return finishWindow(std::move(w), trap, ok);
}

bool setWindowTitle(Window* w, const char* utf8) {
    if (!w || !w->topLevel || !utf8) return false;
    ErrorTrap trap(w->display);
    setTitle(w, windowTitleText(utf8));
    return trap.sync();
}

// Keys go to the frame by the shared rules; the box's own keys never come here (its window has
// them, see editBoxEvent).
EditBox* openEditBox(Window* w) { return w ? w->editBox : nullptr; }

namespace {

void destroyNow(Window* w) {
    Display* d = w->display;
    {
        ErrorTrap trap(d);
        editBoxShutdown(w);
        dropShutdown(w);
        destroyImage(w);
        for (auto& c : w->cursors)
            if (c) XFreeCursor(d, c);
        if (w->gc) XFreeGC(d, w->gc);
        // Already gone when the host destroyed its window first; the trap takes the error.
        if (w->window) XDestroyWindow(d, w->window);
        if (w->colormap) XFreeColormap(d, w->colormap);
        trap.release(true);
    }
    {
        ErrorTrap trap(d);
        trap.release(false);
    }
    // Closing flushes nothing that can fail any more: everything above was synced.
    XCloseDisplay(d);
    delete w;
}

}  // namespace

void destroyWindow(Window* w) {
    if (!w) return;
    if (w->dispatch.depth() > 0) {
        // Inside one of our own passes (a handler closed the editor): the pass still holds the
        // window, so it only vanishes now and is ended when the outermost pass returns.
        w->dispatch.retire();
        ErrorTrap trap(w->display);
        if (w->window) XUnmapWindow(w->display, w->window);
        return;
    }
    destroyNow(w);
}

NativeWindow nativeHandle(Window* w) { return w ? static_cast<NativeWindow>(w->window) : 0; }
bool windowAlive(Window* w) { return w && w->alive; }

Context* getWindowContext(Window* w) {
    if (!w || !w->image) return nullptr;
    return createWindowContext(w->image);
}

void releaseWindowContext(Window* w, Context* c) {
    if (!c) return;
    deleteContext(c);
    if (!w || !w->image) return;
    present(w, takeDamage(w->image));
}

namespace {

// The physical button bits of X's state mask, the modifiers and the button just pressed.
uint32_t pressState(const XButtonEvent& e) {
    uint32_t s = 0;
    if ((e.state & Button1Mask) || e.button == Button1) s |= kButtonLeft;
    if ((e.state & Button2Mask) || e.button == Button2) s |= kButtonMiddle;
    if ((e.state & Button3Mask) || e.button == Button3) s |= kButtonRight;
    if (e.state & ShiftMask) s |= kModShift;
    if (e.state & ControlMask) s |= kModControl;
    if (e.state & Mod1Mask) s |= kModAlt;
    return s;
}

// Whether a focus change took the keyboard away from the window: not a grab's passing move (a
// window manager's switcher), nor the focus going to or coming from one of our own edit boxes.
bool keyboardLeft(const XFocusChangeEvent& f) {
    if (f.mode != NotifyNormal && f.mode != NotifyWhileGrabbed) return false;
    return f.detail == NotifyAncestor || f.detail == NotifyVirtual || f.detail == NotifyNonlinear ||
           f.detail == NotifyNonlinearVirtual;
}

void keyEvent(Window* w, XEvent& e) {
    const bool down = e.type == KeyPress;
    if (!down && XEventsQueued(w->display, QueuedAfterReading) > 0) {
        // Without detectable auto-repeat the server sends a release before each repeated press,
        // with the same time: that release is no release.
        XEvent next;
        XPeekEvent(w->display, &next);
        if (next.type == KeyPress && next.xkey.window == e.xkey.window &&
            next.xkey.keycode == e.xkey.keycode && next.xkey.time == e.xkey.time)
            return;
    }
    w->dispatch.key(translateKey(e.xkey, down), down);
}

void pumpPass(Window* w, bool paintOnly) {
    // The shared rules decide what is delivered (window_dispatch.h); this only translates.
    EventDispatch::Pass pass(w->dispatch, paintOnly);
    Display* d = w->display;
    ErrorTrap trap(d);
    auto addDamage = [&](const XExposeEvent& e) {
        w->dispatch.addDamage({e.x, e.y, e.x + e.width, e.y + e.height});
    };
    XEvent e;
    if (pass.paintOnly()) {
        while (XCheckTypedWindowEvent(d, w->window, Expose, &e)) addDamage(e.xexpose);
    } else {
        // A handler that closed the window ends the pass: the rest is not ours to take.
        while (!w->dispatch.isRetired() && XPending(d) > 0) {
            XNextEvent(d, &e);
            w->eventTicks = ticks();
            if (editBoxEvent(w, e)) continue;
            switch (e.type) {
            case Expose:
                if (e.xexpose.window == w->window) addDamage(e.xexpose);
                break;
            case ButtonPress: {
                if (e.xbutton.window != w->window) break;
                const unsigned b = e.xbutton.button;
                if (b >= Button1 && b <= Button3)
                    w->dispatch.buttonDown({e.xbutton.x, e.xbutton.y}, static_cast<int>(b),
                                           pressState(e.xbutton));
                else if (b == Button4 || b == Button5)
                    w->dispatch.wheel({e.xbutton.x, e.xbutton.y}, b == Button4 ? 1.0f : -1.0f);
                break;
            }
            case DestroyNotify:
                if (e.xdestroywindow.window == w->window) {
                    w->alive = false;
                    w->dispatch.destroyed();
                }
                break;
            case KeyPress:
            case KeyRelease:
                if (w->topLevel && e.xkey.window == w->window) keyEvent(w, e);
                break;
            case FocusOut:
                if (w->topLevel && e.xfocus.window == w->window && keyboardLeft(e.xfocus))
                    w->dispatch.focusOut();
                break;
            case MappingNotify:
                // A changed layout: the keys are read with the new one from now on.
                if (w->topLevel && e.xmapping.request != MappingPointer)
                    XRefreshKeyboardMapping(&e.xmapping);
                break;
            case ClientMessage:
                if (w->topLevel && e.xclient.message_type == w->atoms.wmProtocols &&
                    e.xclient.format == 32 &&
                    static_cast<Atom>(e.xclient.data.l[0]) == w->atoms.wmDeleteWindow) {
                    w->dispatch.closeRequest();
                    break;
                }
                dropEvent(w, e);
                break;
            case SelectionNotify: dropEvent(w, e); break;
            default:
                // Releases and motion left over from a drag, configure notices and the like.
                break;
            }
        }
        if (!w->dispatch.isRetired()) dropTimeout(w);
    }
}

}  // namespace

void pumpEvents(Window* w, bool paintOnly) {
    if (!w || !w->events) return;
    pumpPass(w, paintOnly);
    // Closed by a handler of this pass: the outermost pass is over, nothing holds it any more.
    if (w->dispatch.finished()) destroyNow(w);
}

bool takeLeftButtonDown(Window* w) {
    if (!w) return false;
    ErrorTrap trap(w->display);
    XEvent e;
    struct Match {
        ::Window window;
        unsigned button;
    } m{w->window, leftButton()};
    auto pred = [](Display*, XEvent* ev, XPointer arg) -> Bool {
        auto* mm = reinterpret_cast<Match*>(arg);
        return ev->type == ButtonPress && ev->xbutton.window == mm->window &&
               ev->xbutton.button == mm->button;
    };
    return XCheckIfEvent(w->display, &e, pred, reinterpret_cast<XPointer>(&m)) != 0;
}

uint32_t eventTime(Window* w) { return w ? w->eventTicks : 0; }

Rect windowScreenRect(Window* w) {
    if (!w) return {};
    ErrorTrap trap(w->display);
    int x = 0, y = 0;
    ::Window child = 0;
    if (!XTranslateCoordinates(w->display, w->window, w->root, 0, 0, &x, &y, &child)) return {};
    if (!trap.sync()) return {};
    return designScreenRect({x, y, x + w->width, y + w->height}, w->scale);
}

int32_t windowScale(Window* w) { return w ? w->scale : 1; }

bool resizeWindow(Window* w, int32_t designWidth, int32_t designHeight) {
    if (!w || designWidth <= 0 || designHeight <= 0 || designWidth > kMaxBitmapSide / w->scale ||
        designHeight > kMaxBitmapSide / w->scale)
        return false;
    const int32_t width = designWidth * w->scale, height = designHeight * w->scale;
    ErrorTrap trap(w->display);
    destroyImage(w);
    if (!createImage(w, width, height)) return false;
    w->width = width;
    w->height = height;
    XResizeWindow(w->display, w->window, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    return trap.sync();
}

NativeWindow nativeParent(Window* via, NativeWindow window) {
    if (!via || !window) return 0;
    ErrorTrap trap(via->display);
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(via->display, static_cast<::Window>(window), &root, &parent, &children, &n))
        return 0;
    if (children) XFree(children);
    if (!trap.sync() || parent == root) return 0;
    return parent;
}

bool nativeScreenRect(Window* via, NativeWindow window, Rect* rect) {
    if (!via || !window || !rect) return false;
    ErrorTrap trap(via->display);
    XWindowAttributes a{};
    if (!XGetWindowAttributes(via->display, static_cast<::Window>(window), &a)) return false;
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(via->display, static_cast<::Window>(window), a.root, 0, 0, &x, &y,
                          &child);
    if (!trap.sync()) return false;
    *rect = {x, y, x + a.width, y + a.height};
    return true;
}

bool nativeResize(Window* via, NativeWindow window, int32_t width, int32_t height) {
    if (!via || !window || width <= 0 || height <= 0) return false;
    ErrorTrap trap(via->display);
    XResizeWindow(via->display, static_cast<::Window>(window), static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    return trap.sync();
}

bool nativeHasCaption(Window* via, NativeWindow window) {
    // A managed top-level (WM_STATE set) is what carries a title bar on X11.
    if (!via || !window) return false;
    ErrorTrap trap(via->display);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(via->display, static_cast<::Window>(window),
                                          via->atoms.wmState, 0, 2, False, AnyPropertyType, &type,
                                          &format, &count, &after, &data) == Success &&
                       type != None;
    if (data) XFree(data);
    return trap.sync() && found;
}

bool nativeRaise(Window* via, NativeWindow window) {
    if (!via || !window) return false;
    ErrorTrap trap(via->display);
    XRaiseWindow(via->display, static_cast<::Window>(window));
    return trap.sync();
}

bool queryPointer(Window* w, PointerState* out) {
    if (!out) return false;
    *out = {};
    if (!w) return false;
    ErrorTrap trap(w->display);
    ::Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    // Asked of the root window, which exists even when ours is already gone.
    if (!XQueryPointer(w->display, w->root, &root, &child, &rx, &ry, &wx, &wy, &mask)) return false;
    out->screen = {rx, ry};
    if (w->scale > 1 && w->alive) {
        int x = 0, y = 0;
        ::Window ignored = 0;
        if (XTranslateCoordinates(w->display, w->window, w->root, 0, 0, &x, &y, &ignored))
            out->screen = designPointer(out->screen, {x, y, x + w->width, y + w->height}, w->scale);
    }
    uint32_t s = 0;
    if (mask & Button1Mask) s |= kButtonLeft;
    if (mask & Button2Mask) s |= kButtonMiddle;
    if (mask & Button3Mask) s |= kButtonRight;
    if (mask & ShiftMask) s |= kModShift;
    if (mask & ControlMask) s |= kModControl;
    if (mask & Mod1Mask) s |= kModAlt;
    out->state = s;
    return true;
}

void setCursor(Window* w, Cursor cursor) {
    if (!w) return;
    ErrorTrap trap(w->display);
    const auto index = static_cast<size_t>(cursor);
    if (cursor == Cursor::standard || index >= w->cursors.size()) {
        XUndefineCursor(w->display, w->window);
        return;
    }
    static const unsigned shapes[] = {XC_left_ptr,           XC_watch, XC_sb_h_double_arrow,
                                      XC_sb_v_double_arrow,  XC_fleur, XC_bottom_left_corner,
                                      XC_bottom_right_corner};
    if (!w->cursors[index]) w->cursors[index] = XCreateFontCursor(w->display, shapes[index]);
    XDefineCursor(w->display, w->window, w->cursors[index]);
}

void Atoms::initTopLevel(Display* d) {
    const char* names[] = {"WM_PROTOCOLS", "WM_DELETE_WINDOW", "_NET_WM_NAME", "_NET_WM_ICON"};
    Atom out[4] = {};
    XInternAtoms(d, const_cast<char**>(names), 4, False, out);
    wmProtocols = out[0];
    wmDeleteWindow = out[1];
    netWmName = out[2];
    netWmIcon = out[3];
}

void Atoms::init(Display* d) {
    const char* names[] = {
        "_XEMBED_INFO",   "WM_STATE",     "XdndAware",     "XdndProxy",
        "XdndEnter",      "XdndPosition", "XdndStatus",    "XdndLeave",
        "XdndDrop",       "XdndFinished", "XdndSelection", "XdndActionCopy",
        "XdndActionMove", "XdndTypeList", "text/uri-list", "text/plain;charset=utf-8",
        "UTF8_STRING",    "CORVEX_DROP",  "INCR"};
    Atom out[19] = {};
    XInternAtoms(d, const_cast<char**>(names), 19, False, out);
    xembedInfo = out[0];
    wmState = out[1];
    xdndAware = out[2];
    xdndProxy = out[3];
    xdndEnter = out[4];
    xdndPosition = out[5];
    xdndStatus = out[6];
    xdndLeave = out[7];
    xdndDrop = out[8];
    xdndFinished = out[9];
    xdndSelection = out[10];
    xdndActionCopy = out[11];
    xdndActionMove = out[12];
    xdndTypeList = out[13];
    uriList = out[14];
    textPlainUtf8 = out[15];
    utf8String = out[16];
    dropProperty = out[17];
    incr = out[18];
}

}  // namespace platform
