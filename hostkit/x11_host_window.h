// SPDX-License-Identifier: GPL-3.0-or-later
// A host's side of X11, for the tools that host a plug-in's editor (corvex-validate, the editor
// harness) and for the tests: a top-level window to embed into, the windows left inside it, and a
// host's own X error handler. Each window has a connection of its own; call a window's functions
// from one thread. Null or zero handles get a safe answer (false, 0 or -1).
#pragma once

#include <cstdint>

namespace hostkit::x11 {

// An X window id (the platform layer's NativeWindow on X11).
using WindowId = uintptr_t;

struct HostWindow;

// A mapped top-level window of its own connection; null without a display.
HostWindow* create(int32_t width, int32_t height, const char* title);
WindowId handle(HostWindow* host);
bool resize(HostWindow* host, int32_t width, int32_t height);
// Handles the window's events; false once the user asked to close it.
bool pump(HostWindow* host);
// Destroys the window (and with it, server-side, every window inside it).
void destroy(HostWindow* host);
void destroyWindowOnly(HostWindow* host);  // keeps the connection: a host killing its window first

// How many windows are inside window; -1 when it cannot be asked.
int32_t childCount(WindowId window);

// A host's own X error handler, counting what it is given. uninstall puts the previous handler
// back and tells whether the counting one was still installed (nobody left theirs behind).
void installHostErrorHandler();
int32_t hostErrorCount();
bool uninstallHostErrorHandler();

}  // namespace hostkit::x11
