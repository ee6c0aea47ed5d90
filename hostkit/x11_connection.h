// SPDX-License-Identifier: GPL-3.0-or-later
// A short-lived X connection for host-side helpers (internal to hostkit and testkit, the folders
// that talk to the X server beside the platform layer).
#pragma once

#include <X11/Xlib.h>

namespace hostkit::x11 {

inline int quietHandler(Display*, XErrorEvent*) { return 0; }

// A short-lived connection whose errors are ignored: these helpers probe windows that may be gone.
// Xlib's error handler belongs to the whole process, so the input helpers, which tests call from a
// second thread while the first is inside the plug-in's own error traps, leave it alone (quiet =
// false): swapping it there would undo the plug-in's trap or lose the host's handler.
struct Connection {
    explicit Connection(bool quiet = true) : d(XOpenDisplay(nullptr)), quiet(quiet) {
        if (d && quiet) previous = XSetErrorHandler(&quietHandler);
    }
    ~Connection() {
        if (!d) return;
        XSync(d, False);
        if (quiet) XSetErrorHandler(previous);
        XCloseDisplay(d);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Display* d;
    bool quiet;
    XErrorHandler previous = nullptr;
};

}  // namespace hostkit::x11
