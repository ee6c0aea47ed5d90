// SPDX-License-Identifier: GPL-3.0-or-later
// Internal to the X11 backend: the window record, the atoms it uses and the error trap.
#pragma once

#include "platform/window.h"
#include "window_dispatch.h"

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <array>
#include <string>
#include <vector>

namespace platform {

struct Atoms {
    void init(Display* d);
    Atom xembedInfo = 0, wmState = 0;
    Atom xdndAware = 0, xdndProxy = 0, xdndEnter = 0, xdndPosition = 0, xdndStatus = 0;
    Atom xdndLeave = 0, xdndDrop = 0, xdndFinished = 0, xdndSelection = 0;
    Atom xdndActionCopy = 0, xdndActionMove = 0, xdndTypeList = 0;
    Atom uriList = 0, textPlainUtf8 = 0, utf8String = 0, dropProperty = 0, incr = 0;
    // Top-level windows only (interned when one is created).
    void initTopLevel(Display* d);
    Atom wmProtocols = 0, wmDeleteWindow = 0, netWmName = 0, netWmIcon = 0;
};

// The state of one drag over our window, from XdndEnter to XdndFinished.
struct DropSession {
    ::Window source = 0;
    ::Window target = 0;  // the window the source addressed (a proxied top-level or ours)
    int version = 0;
    Atom chosenType = 0;  // None when nothing we understand is offered
    Atom action = 0;
    Point where;  // last position, in our window's coordinates
    bool awaitingData = false;
    uint32_t requestedAt = 0;
};

struct EditBox;

struct Window {
    Display* display = nullptr;
    ::Window window = 0;
    ::Window parent = 0;
    ::Window root = 0;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    GC gc = nullptr;
    int32_t width = 0, height = 0;  // device pixels
    int32_t scale = 1;
    Bitmap* image = nullptr;
    XImage* ximage = nullptr;
    XShmSegmentInfo shm{};
    bool useShm = false;
    WindowEvents* events = nullptr;
    bool alive = true;
    uint32_t eventTicks = 0;
    WindowContexts contexts{this};
    EventDispatch dispatch;
    std::array<::Cursor, 7> cursors{};
    Atoms atoms;
    bool dropTarget = false;
    ::Window proxiedTop = 0;  // a top-level we made point its drops at us
    DropSession drop;
    EditBox* editBox = nullptr;     // the edit box open over this window (x11_editbox.cpp)
    std::string ownedSelection[2];  // PRIMARY and CLIPBOARD texts this window serves
    bool topLevel = false;          // ours on the desktop, not inside a host's window
};

// Installs our error handler for the lifetime of the object (nesting allowed) and swallows the
// errors of `display` alone; errors of other connections go to the handler that was there before.
// release() syncs (when asked) and restores the previous handler.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    bool sync();  // true when no error arrived so far
    void release(bool syncFirst);
    int lastError() const;

private:
    Display* display;
    int savedError = 0;
    bool active = true;
};

// The drag-and-drop target (x11_dnd.cpp).
void dropEvent(Window* w, const XEvent& e);
void dropTimeout(Window* w);
void dropShutdown(Window* w);

// Keys (x11_keys.cpp): a key event as the frame receives it, and the printable character a
// keysym types (0 for none).
KeyEvent translateKey(XKeyEvent& e, bool down);
uint32_t keysymCharacter(unsigned long keysym);

// The edit box and the selections it serves (x11_editbox.cpp): true when the event was theirs.
bool editBoxEvent(Window* w, XEvent& e);
void editBoxShutdown(Window* w);

}  // namespace platform
