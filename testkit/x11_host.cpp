// SPDX-License-Identifier: GPL-3.0-or-later
// Host-side X11 helpers for the tests: pixel read-back, XTest input, the clipboard and a minimal
// XDND drag source (the host window itself is hostkit's). Each helper call uses a connection of
// its own.
#include "testkit/x11_host.h"

#include "hostkit/x11_connection.h"
#include "platform/raster.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstring>
#include <memory>

namespace testkit::x11host {

using namespace platform;

using hostkit::x11::Connection;

bool readPixels(NativeWindow window, std::vector<uint32_t>* pixels, int32_t* width,
                int32_t* height) {
    Connection c;
    if (!c.d || !pixels) return false;
    XWindowAttributes a{};
    if (!XGetWindowAttributes(c.d, static_cast<::Window>(window), &a)) return false;
    XImage* img =
        XGetImage(c.d, static_cast<::Window>(window), 0, 0, static_cast<unsigned>(a.width),
                  static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (!img) return false;
    pixels->resize(static_cast<size_t>(a.width) * a.height);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            (*pixels)[static_cast<size_t>(y) * a.width + x] =
                static_cast<uint32_t>(XGetPixel(img, x, y)) & 0xFFFFFF;
    XDestroyImage(img);
    if (width) *width = a.width;
    if (height) *height = a.height;
    return true;
}

bool screenshot(NativeWindow window, const char* path) {
    std::vector<uint32_t> px;
    int32_t w = 0, h = 0;
    if (!readPixels(window, &px, &w, &h)) return false;
    Bitmap* b = createBitmap(w, h);
    if (!b) return false;
    int32_t stride = 0;
    uint32_t* pixels = bitmapPixels(b, &stride);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(pixels + static_cast<size_t>(y) * stride,
                    px.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w) * 4);
    const bool ok = writePng(b, path);
    deleteBitmap(b);
    return ok;
}

bool hasProperty(NativeWindow window, const char* name) {
    Connection c;
    if (!c.d) return false;
    const Atom a = XInternAtom(c.d, name, False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found =
        XGetWindowProperty(c.d, static_cast<::Window>(window), a, 0, 1, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) == Success &&
        type != None;
    if (data) XFree(data);
    return found;
}

bool windowExists(NativeWindow window) {
    Connection c;
    XWindowAttributes a{};
    return c.d && XGetWindowAttributes(c.d, static_cast<::Window>(window), &a) != 0;
}

Rect screenRect(NativeWindow window) {
    Connection c;
    XWindowAttributes a{};
    if (!c.d || !XGetWindowAttributes(c.d, static_cast<::Window>(window), &a)) return {};
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(c.d, static_cast<::Window>(window), a.root, 0, 0, &x, &y, &child);
    return {x, y, x + a.width, y + a.height};
}

bool movePointer(int32_t x, int32_t y) {
    Connection c(false);
    if (!c.d) return false;
    const bool ok = XTestFakeMotionEvent(c.d, DefaultScreen(c.d), x, y, CurrentTime) != 0;
    XSync(c.d, False);
    return ok;
}

bool button(int32_t number, bool press) {
    Connection c(false);
    if (!c.d) return false;
    const bool ok = XTestFakeButtonEvent(c.d, static_cast<unsigned>(number), press ? True : False,
                                         CurrentTime) != 0;
    XSync(c.d, False);
    return ok;
}

bool key(const char* name, bool press) {
    Connection c(false);
    if (!c.d || !name) return false;
    const KeySym sym = XStringToKeysym(name);
    const KeyCode code = sym ? XKeysymToKeycode(c.d, sym) : 0;
    if (!code) return false;
    const bool ok = XTestFakeKeyEvent(c.d, code, press ? True : False, CurrentTime) != 0;
    XSync(c.d, False);
    return ok;
}

// ---- Clipboard -------------------------------------------------------------------------------

struct ClipboardOwner::State {
    Display* d = nullptr;
    ::Window w = 0;
    Atom clipboard = 0, utf8 = 0, targets = 0;
    std::string text;
};

ClipboardOwner::ClipboardOwner(std::string text) : s(new State) {
    s->text = std::move(text);
    s->d = XOpenDisplay(nullptr);
    if (!s->d) return;
    s->w = XCreateSimpleWindow(s->d, DefaultRootWindow(s->d), 0, 0, 1, 1, 0, 0, 0);
    s->clipboard = XInternAtom(s->d, "CLIPBOARD", False);
    s->utf8 = XInternAtom(s->d, "UTF8_STRING", False);
    s->targets = XInternAtom(s->d, "TARGETS", False);
    XSetSelectionOwner(s->d, s->clipboard, s->w, CurrentTime);
    XSync(s->d, False);
}

ClipboardOwner::~ClipboardOwner() {
    if (s->d) {
        XDestroyWindow(s->d, s->w);
        XCloseDisplay(s->d);
    }
    delete s;
}

bool ClipboardOwner::owns() const { return s->d && XGetSelectionOwner(s->d, s->clipboard) == s->w; }

void ClipboardOwner::step() {
    if (!s->d) return;
    while (XPending(s->d) > 0) {
        XEvent e;
        XNextEvent(s->d, &e);
        if (e.type != SelectionRequest) continue;
        XSelectionRequestEvent& r = e.xselectionrequest;
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.requestor = r.requestor;
        reply.selection = r.selection;
        reply.target = r.target;
        reply.time = r.time;
        reply.property = None;
        if (r.target == s->utf8 || r.target == XA_STRING) {
            XChangeProperty(s->d, r.requestor, r.property, r.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(s->text.data()),
                            static_cast<int>(s->text.size()));
            reply.property = r.property;
        } else if (r.target == s->targets) {
            const Atom offered[] = {s->targets, s->utf8};
            XChangeProperty(s->d, r.requestor, r.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(offered), 2);
            reply.property = r.property;
        }
        XSendEvent(s->d, r.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
        XFlush(s->d);
    }
}

bool clipboardHasOwner() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    const bool owned = XGetSelectionOwner(d, XInternAtom(d, "CLIPBOARD", False)) != None;
    XCloseDisplay(d);
    return owned;
}

bool readClipboard(std::string* text, int32_t timeoutMs) {
    // A plain connection: made to run beside the thread under test, it must not swap the
    // process-wide error handler under that thread's feet.
    struct Plain {
        Display* d = XOpenDisplay(nullptr);
        ~Plain() {
            if (d) XCloseDisplay(d);
        }
    } c;
    if (!c.d || !text) return false;
    const ::Window w = XCreateSimpleWindow(c.d, DefaultRootWindow(c.d), 0, 0, 1, 1, 0, 0, 0);
    const Atom clipboard = XInternAtom(c.d, "CLIPBOARD", False);
    const Atom utf8 = XInternAtom(c.d, "UTF8_STRING", False);
    const Atom property = XInternAtom(c.d, "HOST_CLIPBOARD", False);
    XConvertSelection(c.d, clipboard, utf8, property, w, CurrentTime);
    XFlush(c.d);
    bool ok = false;
    for (int32_t waited = 0; waited < timeoutMs; waited += 5) {
        XEvent e;
        if (XCheckTypedWindowEvent(c.d, w, SelectionNotify, &e)) {
            if (e.xselection.property != None) {
                Atom type = 0;
                int format = 0;
                unsigned long count = 0, after = 0;
                unsigned char* data = nullptr;
                if (XGetWindowProperty(c.d, w, property, 0, 4096, True, AnyPropertyType, &type,
                                       &format, &count, &after, &data) == Success &&
                    data) {
                    text->assign(reinterpret_cast<char*>(data), count);
                    ok = true;
                }
                if (data) XFree(data);
            }
            break;
        }
        sleepMs(5);
    }
    XDestroyWindow(c.d, w);
    return ok;
}

// ---- Drag source -----------------------------------------------------------------------------

struct DragSource::State {
    Display* d = nullptr;
    ::Window source = 0, top = 0, target = 0;
    Point at;
    Atom type = 0;
    std::string data;
    int phase = 0;  // 0 enter+position, 1 awaiting status, 2 drop sent, 3 done
    bool accepted = false, finishedOk = false;
    Atom action = 0;
    Atom aEnter, aPosition, aStatus, aDrop, aFinished, aSelection, aAware, aProxy, aCopy;
    int steps = 0;
};

DragSource::DragSource(NativeWindow topLevel, Point at, std::string type, std::string data)
    : s(new State) {
    s->d = XOpenDisplay(nullptr);
    if (!s->d) {
        s->phase = 3;
        return;
    }
    s->top = static_cast<::Window>(topLevel);
    s->at = at;
    s->data = std::move(data);
    const std::string mime = type == "files" ? "text/uri-list" : type;
    s->type = XInternAtom(s->d, mime.c_str(), False);
    s->aEnter = XInternAtom(s->d, "XdndEnter", False);
    s->aPosition = XInternAtom(s->d, "XdndPosition", False);
    s->aStatus = XInternAtom(s->d, "XdndStatus", False);
    s->aDrop = XInternAtom(s->d, "XdndDrop", False);
    s->aFinished = XInternAtom(s->d, "XdndFinished", False);
    s->aSelection = XInternAtom(s->d, "XdndSelection", False);
    s->aAware = XInternAtom(s->d, "XdndAware", False);
    s->aProxy = XInternAtom(s->d, "XdndProxy", False);
    s->aCopy = XInternAtom(s->d, "XdndActionCopy", False);
    s->source = XCreateSimpleWindow(s->d, DefaultRootWindow(s->d), -10, -10, 1, 1, 0, 0, 0);
    XSetSelectionOwner(s->d, s->aSelection, s->source, CurrentTime);
    // Like a real source: talk to the proxy when the top-level names one.
    s->target = s->top;
    Atom t = 0;
    int f = 0;
    unsigned long n = 0, after = 0;
    unsigned char* p = nullptr;
    if (XGetWindowProperty(s->d, s->top, s->aProxy, 0, 1, False, XA_WINDOW, &t, &f, &n, &after,
                           &p) == Success &&
        p && n == 1)
        s->target = static_cast<::Window>(*reinterpret_cast<long*>(p));
    if (p) XFree(p);
    XSync(s->d, False);
}

DragSource::~DragSource() {
    if (s->d) {
        if (s->source) XDestroyWindow(s->d, s->source);
        XCloseDisplay(s->d);
    }
    delete s;
}

namespace {
void sendClient(Display* d, ::Window to, ::Window about, Atom type, long l1, long l2, long l3,
                long l4, ::Window source) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = about;
    ev.xclient.message_type = type;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(source);
    ev.xclient.data.l[1] = l1;
    ev.xclient.data.l[2] = l2;
    ev.xclient.data.l[3] = l3;
    ev.xclient.data.l[4] = l4;
    XSendEvent(d, to, False, NoEventMask, &ev);
}
}  // namespace

void DragSource::step() {
    if (s->phase >= 3 || !s->d) return;
    if (++s->steps > 2000) {  // the target never answered
        s->phase = 3;
        return;
    }
    if (s->phase == 0) {
        sendClient(s->d, s->target, s->top, s->aEnter, 5L << 24, static_cast<long>(s->type), 0, 0,
                   s->source);
        sendClient(s->d, s->target, s->top, s->aPosition, 0,
                   (long(s->at.x) << 16) | (s->at.y & 0xFFFF), CurrentTime,
                   static_cast<long>(s->aCopy), s->source);
        XFlush(s->d);
        s->phase = 1;
    }
    while (XPending(s->d) > 0) {
        XEvent e;
        XNextEvent(s->d, &e);
        if (e.type == ClientMessage && e.xclient.message_type == s->aStatus && s->phase == 1) {
            s->accepted = (e.xclient.data.l[1] & 1) != 0;
            s->action = static_cast<Atom>(e.xclient.data.l[4]);
            sendClient(s->d, s->target, s->top, s->aDrop, 0, CurrentTime, 0, 0, s->source);
            XFlush(s->d);
            s->phase = 2;
        } else if (e.type == ClientMessage && e.xclient.message_type == s->aFinished) {
            s->finishedOk = (e.xclient.data.l[1] & 1) != 0;
            s->phase = 3;
        } else if (e.type == SelectionRequest) {
            const XSelectionRequestEvent& r = e.xselectionrequest;
            XEvent reply{};
            reply.xselection.type = SelectionNotify;
            reply.xselection.requestor = r.requestor;
            reply.xselection.selection = r.selection;
            reply.xselection.target = r.target;
            reply.xselection.time = r.time;
            reply.xselection.property = None;
            if (r.target == s->type) {
                XChangeProperty(s->d, r.requestor, r.property, r.target, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(s->data.data()),
                                static_cast<int>(s->data.size()));
                reply.xselection.property = r.property;
            }
            XSendEvent(s->d, r.requestor, False, NoEventMask, &reply);
            XFlush(s->d);
        }
    }
}

bool DragSource::done() const { return s->phase >= 3; }
bool DragSource::accepted() const { return s->accepted; }
bool DragSource::finishedOk() const { return s->finishedOk; }
std::string DragSource::actionName() const {
    if (!s->d || !s->action) return "";
    char* name = XGetAtomName(s->d, s->action);
    std::string out = name ? name : "";
    if (name) XFree(name);
    return out;
}

}  // namespace testkit::x11host
