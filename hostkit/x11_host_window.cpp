// SPDX-License-Identifier: GPL-3.0-or-later
// A host's side of X11 (see x11_host_window.h).
#include "hostkit/x11_host_window.h"

#include "hostkit/x11_connection.h"

#include <X11/Xlib.h>

#include <chrono>
#include <thread>

namespace hostkit::x11 {

struct HostWindow {
    Display* d = nullptr;
    ::Window w = 0;
    Atom deleteWindow = 0;
    bool open = true;
};

HostWindow* create(int32_t width, int32_t height, const char* title) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return nullptr;
    auto* h = new HostWindow;
    h->d = d;
    const int screen = DefaultScreen(d);
    h->w = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, static_cast<unsigned>(width),
                               static_cast<unsigned>(height), 0, BlackPixel(d, screen),
                               BlackPixel(d, screen));
    XStoreName(d, h->w, title ? title : "host");
    h->deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, h->w, &h->deleteWindow, 1);
    XSelectInput(d, h->w, StructureNotifyMask);
    XMapWindow(d, h->w);
    // Wait until it is mapped, so that children become viewable at once.
    for (int i = 0; i < 200; ++i) {
        XEvent e;
        if (XCheckTypedWindowEvent(d, h->w, MapNotify, &e)) break;
        XSync(d, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XSync(d, False);
    return h;
}

WindowId handle(HostWindow* h) { return h ? static_cast<WindowId>(h->w) : 0; }

bool resize(HostWindow* h, int32_t width, int32_t height) {
    if (!h || !h->w || width <= 0 || height <= 0) return false;
    XResizeWindow(h->d, h->w, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(h->d, False);
    return true;
}

bool pump(HostWindow* h) {
    if (!h || !h->d) return false;
    while (XPending(h->d) > 0) {
        XEvent e;
        XNextEvent(h->d, &e);
        if (e.type == ClientMessage && static_cast<Atom>(e.xclient.data.l[0]) == h->deleteWindow)
            h->open = false;
        if (e.type == DestroyNotify && e.xdestroywindow.window == h->w) h->open = false;
    }
    return h->open;
}

void destroyWindowOnly(HostWindow* h) {
    if (!h || !h->w) return;
    XDestroyWindow(h->d, h->w);
    XSync(h->d, False);
    h->w = 0;
}

void destroy(HostWindow* h) {
    if (!h) return;
    destroyWindowOnly(h);
    XCloseDisplay(h->d);
    delete h;
}

int32_t childCount(WindowId window) {
    Connection c;
    if (!c.d) return -1;
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(c.d, static_cast<::Window>(window), &root, &parent, &children, &n)) return -1;
    if (children) XFree(children);
    return static_cast<int32_t>(n);
}

namespace {
int gHostErrors = 0;
XErrorHandler gBeforeHost = nullptr;
int countingHandler(Display*, XErrorEvent*) {
    ++gHostErrors;
    return 0;
}
}  // namespace

void installHostErrorHandler() {
    gHostErrors = 0;
    gBeforeHost = XSetErrorHandler(&countingHandler);
}
int32_t hostErrorCount() { return gHostErrors; }
bool uninstallHostErrorHandler() { return XSetErrorHandler(gBeforeHost) == &countingHandler; }

}  // namespace hostkit::x11
