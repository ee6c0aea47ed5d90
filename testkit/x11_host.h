// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for a host's side of X11, for our tests and development tools: the host window of
// hostkit/x11_host_window.h, reading pixels back from the server, pointer and key input through
// XTest, the clipboard and drags. Test support, not part of the plug-in or of a shipped tool: it
// talks to the X server directly, beside the platform layer.
#pragma once

#include "hostkit/x11_host_window.h"
#include "platform/window.h"

#include <string>
#include <vector>

namespace testkit::x11host {

using platform::NativeWindow;
using platform::Point;
using platform::Rect;

// The host window and the host's error handler.
using hostkit::x11::childCount;
using hostkit::x11::create;
using hostkit::x11::destroy;
using hostkit::x11::destroyWindowOnly;
using hostkit::x11::handle;
using hostkit::x11::hostErrorCount;
using hostkit::x11::HostWindow;
using hostkit::x11::installHostErrorHandler;
using hostkit::x11::pump;
using hostkit::x11::resize;
using hostkit::x11::uninstallHostErrorHandler;
static_assert(sizeof(hostkit::x11::WindowId) == sizeof(NativeWindow));

// Reads the window's pixels from the server (0x00RRGGBB, row-major). False on any failure.
bool readPixels(NativeWindow window, std::vector<uint32_t>* pixels, int32_t* width,
                int32_t* height);
bool screenshot(NativeWindow window, const char* pngPath);
bool hasProperty(NativeWindow window, const char* name);
bool windowExists(NativeWindow window);
Rect screenRect(NativeWindow window);

// XTest: move the pointer to screen coordinates, press or release a button (1 left ... 3 right),
// press or release a key by name ("Control_L"). Safe from a second thread: they never touch the
// process-wide Xlib error handler.
bool movePointer(int32_t x, int32_t y);
bool button(int32_t number, bool press);
bool key(const char* name, bool press);

// Serves text as the CLIPBOARD selection from a window of its own connection, as another
// application would; step() answers what arrived.
class ClipboardOwner {
public:
    explicit ClipboardOwner(std::string text);
    ~ClipboardOwner();
    ClipboardOwner(const ClipboardOwner&) = delete;
    ClipboardOwner& operator=(const ClipboardOwner&) = delete;
    void step();
    bool owns() const;

private:
    struct State;
    State* s;
};
// Reads the CLIPBOARD selection as UTF-8 text, as another application would, waiting up to
// timeoutMs for the owner (which must be served meanwhile, e.g. from another thread).
bool readClipboard(std::string* text, int32_t timeoutMs);
// Whether any client owns the CLIPBOARD selection now.
bool clipboardHasOwner();

// A drag source: drags `data` of the given MIME type (or "files", sent as text/uri-list) from
// nowhere onto the top-level window at screen point `at`. Call step() until done().
class DragSource {
public:
    DragSource(NativeWindow topLevel, Point at, std::string type, std::string data);
    ~DragSource();
    DragSource(const DragSource&) = delete;
    DragSource& operator=(const DragSource&) = delete;
    void step();
    bool done() const;
    bool accepted() const;           // the target's XdndStatus said yes
    bool finishedOk() const;         // XdndFinished reported success
    std::string actionName() const;  // the action the target answered with

private:
    struct State;
    State* s;
};

}  // namespace testkit::x11host
