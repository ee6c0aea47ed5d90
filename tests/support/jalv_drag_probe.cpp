// SPDX-License-Identifier: GPL-3.0-or-later
// Drags "LFO Amount" in Corvex's window inside a running host (jalv.gtk3) by XTest, and meanwhile
// asks the host's top-level window whether its event loop still runs: every 10 ms a
// _NET_WM_PING, which GTK answers from its main loop (to the root window). A drag that runs a
// loop of its own inside the host's idle call holds the whole host still, and the pings go
// unanswered until the drag ends.
//   jalv_drag_probe [--max-reply-ms N]
// Prints the figures; exits 1 when the worst reply took longer than N ms (default: never) or the
// knob did not move, 2 when the window or the host could not be found.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <sys/select.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The first window of exactly 600 × 350 under top: Corvex's window, wherever the host put it.
Window findUi(Display* d, Window top) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, top, &a) && a.width == 600 && a.height == 350 &&
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

Window topLevelOf(Display* d, Window w) {
    for (;;) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
        if (children) XFree(children);
        if (parent == root) return w;
        w = parent;
    }
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

// The knob's square, as the server has it.
std::vector<unsigned long> knobPixels(Display* d, Window ui) {
    std::vector<unsigned long> pixels;
    if (XImage* image = XGetImage(d, ui, 419 - 30, 175 - 30, 60, 60, AllPlanes, ZPixmap)) {
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x) pixels.push_back(XGetPixel(image, x, y));
        XDestroyImage(image);
    }
    return pixels;
}

}  // namespace

int main(int argc, char** argv) {
    double maxReplyMs = -1;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--max-reply-ms")) maxReplyMs = std::atof(argv[++i]);

    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::puts("no X display");
        return 2;
    }
    const Window root = DefaultRootWindow(d);
    Window ui = 0;
    for (int i = 0; i < 200 && !ui; ++i) {
        ui = findUi(d, root);
        if (!ui) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ui) {
        std::puts("Corvex's window never appeared");
        return 2;
    }
    const Window host = topLevelOf(d, ui);
    // Let the host settle: its first paints and idles.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    XSelectInput(d, root, SubstructureNotifyMask);
    const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(d, "_NET_WM_PING", False);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(d, ui, root, 0, 0, &x, &y, &child);
    const int cx = x + 419, cy = y + 175;

    std::map<long, double> sent, replied;
    long serial = 1;
    const Clock::time_point t0 = Clock::now();
    auto sendPing = [&] {
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
        sent.emplace(serial++, msSince(t0));
    };
    // Steps every 10 ms, a ping with each: the drag goes half a turn over about a second.
    auto waitStep = [&] {
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(10);
        while (Clock::now() < until) {
            takeReplies(d, ping, replied, t0);
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(ConnectionNumber(d), &fds);
            timeval tv{0, 1000};
            select(ConnectionNumber(d) + 1, &fds, nullptr, nullptr, &tv);
        }
    };

    const std::vector<unsigned long> before = knobPixels(d, ui);
    XTestFakeMotionEvent(d, -1, cx - 25, cy, CurrentTime);
    for (int i = 0; i < 10; ++i) {
        sendPing();
        waitStep();
    }
    const long firstDragPing = serial;
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    for (int step = 0; step <= 100; ++step) {
        const double a = 3.141592653589793 * (1.0 - step / 100.0);
        XTestFakeMotionEvent(d, -1, cx + static_cast<int>(25 * std::cos(a)),
                             cy - static_cast<int>(25 * std::sin(a)), CurrentTime);
        sendPing();
        waitStep();
    }
    const long lastDragPing = serial - 1;
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XFlush(d);
    const Clock::time_point released = Clock::now();
    while (msSince(released) < 3000 && replied.size() < sent.size()) waitStep();

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
    const bool moved = knobPixels(d, ui) != before;
    if (!moved) std::puts("the knob did not move");
    XCloseDisplay(d);
    if (replied.empty()) {
        std::puts("the host never answered a ping");
        return 2;
    }
    return !moved || (maxReplyMs >= 0 && worst > maxReplyMs) ? 1 : 0;
}
