// SPDX-License-Identifier: GPL-3.0-or-later
// Drags "LFO Amount" in Corvex's window inside a running host (jalv.gtk3) by XTest, and meanwhile
// asks the host's top-level window whether its event loop still runs: every 10 ms a
// _NET_WM_PING, which GTK answers from its main loop (to the root window). A drag that runs a
// loop of its own inside the host's idle call holds the whole host still, and the pings go
// unanswered until the drag ends.
//   jalv_drag_probe --pid HOST_PID [--max-reply-ms N]
// Prints the figures; exits 1 when the worst reply took longer than N ms (default: never), the
// knob did not move or Corvex's window went away during the drag, 2 when the window or the host
// could not be found.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <sys/select.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Windows come and go while they are looked at (the host embeds its plug-in's window in stages,
// and a display may hold other clients' windows): an error about one means "look again", never
// the end of the probe, as Xlib's own handler would have it.
int xErrors = 0;
int countError(Display*, XErrorEvent*) {
    ++xErrors;
    return 0;
}

// The process that owns a top-level window, as GTK tells the desktop; 0 when it does not say.
long ownerPid(Display* d, Window w) {
    const Atom netWmPid = XInternAtom(d, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(d, w, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        if (type == XA_CARDINAL && format == 32 && count == 1) pid = *reinterpret_cast<long*>(data);
        XFree(data);
    }
    return pid;
}

bool isCorvex(Display* d, Window w) {
    XClassHint hint{};
    if (!XGetClassHint(d, w, &hint)) return false;
    const bool corvex = hint.res_name && !std::strcmp(hint.res_name, "corvex");
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return corvex;
}

// Corvex's window under top, shown at its 600 × 350: the one the drag's coordinates are for.
Window findUi(Display* d, Window top) {
    XWindowAttributes a;
    if (isCorvex(d, top) && XGetWindowAttributes(d, top, &a) && a.width == 600 && a.height == 350 &&
        a.map_state == IsViewable)
        return top;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, top, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) found = findUi(d, children[i]);
    if (children) XFree(children);
    return found;
}

// The host's top-level window holding Corvex's, and Corvex's; zeros until both are shown. Only
// the host's own windows count: another client's window of the same size is not ours to drag.
struct Found {
    Window host = 0, ui = 0;
    bool operator==(const Found& o) const { return host == o.host && ui == o.ui; }
};
Found findInHost(Display* d, long hostPid) {
    Found f;
    Window root = 0, parent = 0, *tops = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &tops, &count)) return f;
    for (unsigned i = 0; i < count && !f.ui; ++i)
        if (ownerPid(d, tops[i]) == hostPid && (f.ui = findUi(d, tops[i]))) f.host = tops[i];
    if (tops) XFree(tops);
    return f;
}

// Pumps the replies that have arrived: each carries the number its ping was sent with.
void takeReplies(Display* d, Atom ping, std::map<long, double>& replied, Clock::time_point t0) {
    while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == ClientMessage && static_cast<Atom>(e.xclient.data.l[0]) == ping)
            replied.emplace(e.xclient.data.l[1], msSince(t0));
    }
}

// The knob's square, as the server has it; empty when the window is gone.
std::vector<unsigned long> knobPixels(Display* d, Window ui) {
    std::vector<unsigned long> pixels;
    if (XImage* image = XGetImage(d, ui, 419 - 30, 175 - 30, 60, 60, AllPlanes, ZPixmap)) {
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x) pixels.push_back(XGetPixel(image, x, y));
        XDestroyImage(image);
    }
    return pixels;
}

// Painted: a knob shows more than one colour, a window not yet drawn in only its background.
bool painted(const std::vector<unsigned long>& pixels) {
    return !pixels.empty() && std::find_if(pixels.begin(), pixels.end(), [&](unsigned long p) {
                                  return p != pixels.front();
                              }) != pixels.end();
}

}  // namespace

int main(int argc, char** argv) {
    double maxReplyMs = -1;
    long hostPid = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--max-reply-ms")) maxReplyMs = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--pid")) hostPid = std::atol(argv[++i]);
    }
    if (hostPid <= 0) {
        std::puts("usage: jalv_drag_probe --pid HOST_PID [--max-reply-ms N]");
        return 2;
    }

    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::puts("no X display");
        return 2;
    }
    XSetErrorHandler(countError);
    const Window root = DefaultRootWindow(d);
    // Pongs come to the root; new and changed windows wake the waits below.
    XSelectInput(d, root, SubstructureNotifyMask);
    const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(d, "_NET_WM_PING", False);

    std::map<long, double> sent, replied;
    long serial = 1;
    const Clock::time_point t0 = Clock::now();
    auto sendPing = [&](Window host) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = host;
        e.xclient.message_type = protocols;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(ping);
        e.xclient.data.l[1] = serial;  // stands in for the timestamp: it comes back as it went
        e.xclient.data.l[2] = static_cast<long>(host);
        XSendEvent(d, host, False, NoEventMask, &e);
        XFlush(d);
        sent.emplace(serial, msSince(t0));
        return serial++;
    };
    // Until the next X event, or at most ms milliseconds.
    auto waitEvents = [&](long ms) {
        takeReplies(d, ping, replied, t0);
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(ConnectionNumber(d), &fds);
        timeval tv{0, ms * 1000};
        select(ConnectionNumber(d) + 1, &fds, nullptr, nullptr, &tv);
        takeReplies(d, ping, replied, t0);
    };
    // Steps every 10 ms, a ping with each: the drag goes half a turn over about a second.
    auto waitStep = [&] {
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(10);
        while (Clock::now() < until) waitEvents(1);
    };

    // Ready to drag: Corvex's window shown in the host's and painted, where the pointer is to go,
    // and the host's loop answering a ping sent since then. Any of it may change while the host
    // settles (or a window go away), so it is all looked up again until one look holds it all.
    Found at;
    std::vector<unsigned long> before;
    int cx = 0, cy = 0;
    long readyPing = 0;
    bool ready = false;
    while (!ready && msSince(t0) < 20000) {
        const int errors = xErrors;
        const Found now = findInHost(d, hostPid);
        std::vector<unsigned long> pixels;
        if (now.ui) pixels = knobPixels(d, now.ui);
        int x = 0, y = 0;
        Window child = 0;
        const bool placed =
            now.ui && XTranslateCoordinates(d, now.ui, root, 0, 0, &x, &y, &child) != 0;
        XSync(d, False);
        takeReplies(d, ping, replied, t0);
        if (xErrors != errors || !placed || !painted(pixels)) {
            readyPing = 0;
            waitEvents(20);
            continue;
        }
        if (!readyPing || !(now == at) || x + 419 != cx || y + 175 != cy || pixels != before) {
            at = now;
            before = std::move(pixels);
            cx = x + 419;
            cy = y + 175;
            readyPing = sendPing(at.host);
        }
        ready = replied.count(readyPing) != 0;
        if (!ready) waitEvents(20);
    }
    if (!ready) {
        std::puts(at.ui ? "the host never answered a ping" : "Corvex's window never appeared");
        XCloseDisplay(d);
        return 2;
    }
    const Window host = at.host, ui = at.ui;

    XTestFakeMotionEvent(d, -1, cx - 25, cy, CurrentTime);
    for (int i = 0; i < 10; ++i) {
        sendPing(host);
        waitStep();
    }
    const long firstDragPing = serial;
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    for (int step = 0; step <= 100; ++step) {
        const double a = 3.141592653589793 * (1.0 - step / 100.0);
        XTestFakeMotionEvent(d, -1, cx + static_cast<int>(25 * std::cos(a)),
                             cy - static_cast<int>(25 * std::sin(a)), CurrentTime);
        sendPing(host);
        waitStep();
    }
    const long lastDragPing = serial - 1;
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XFlush(d);
    const Clock::time_point released = Clock::now();
    auto allAnswered = [&] {
        for (long s = firstDragPing; s <= lastDragPing; ++s)
            if (!replied.count(s)) return false;
        return true;
    };
    while (msSince(released) < 3000 && !allAnswered()) waitStep();

    double worst = 0, total = 0;
    int answeredDuringDrag = 0, pings = 0;
    const double releaseMs = std::chrono::duration<double, std::milli>(released - t0).count();
    for (long s = firstDragPing; s <= lastDragPing; ++s) {
        ++pings;
        const auto r = replied.find(s);
        const double reply = r == replied.end() ? 3000 : r->second - sent[s];
        if (r != replied.end() && r->second < releaseMs) ++answeredDuringDrag;
        worst = std::max(worst, reply);
        total += reply;
    }
    std::printf("drag: %d pings to the host window, %d answered before the release, worst reply "
                "%.1f ms, mean %.1f ms\n",
                pings, answeredDuringDrag, worst, total / pings);
    const std::vector<unsigned long> after = knobPixels(d, ui);
    const bool gone = after.empty();
    if (gone) std::puts("Corvex's window went away during the drag");
    const bool moved = !gone && after != before;
    if (!gone && !moved) std::puts("the knob did not move");
    XCloseDisplay(d);
    return !moved || (maxReplyMs >= 0 && worst > maxReplyMs) ? 1 : 0;
}
