// SPDX-License-Identifier: GPL-3.0-or-later
// Internal to the Win32 platform files: the records behind the raster's opaque handles, shared by
// the GDI raster and the window backend that lends its device contexts. Pens, brushes and fonts
// are the GDI handles themselves; bitmaps and contexts need a little state of their own (the
// deferred deletion of a selected bitmap, damage, the bitmap a context holds). Everything here
// belongs to the user-interface thread, as the raster and the windows do.
#pragma once

#include "platform/raster.h"
#include "platform/window.h"
#include "raster_window.h"
#include "window_dispatch.h"

#include <windows.h>

#include <string>

namespace platform {

struct Bitmap {
    HBITMAP handle = nullptr;
    int32_t width = 0, height = 0;
    bool mono = false;
    uint32_t* bits = nullptr;  // colour bitmaps are top-down 32-bit DIB sections
    Rect damage{0, 0, 0, 0};
    Context* selectedBy = nullptr;
    bool deletePending = false;
    // A window's image (raster_window.h): one device context shared by all its window contexts.
    HDC windowDC = nullptr;
    int32_t windowContexts = 0;
    // Device pixels per design unit, each way (1, 2 or 3): what a context drawing into it maps
    // every coordinate, pen width and font size by. width and height above are device pixels.
    int32_t scale = 1;
};

struct Context {
    HDC dc = nullptr;
    HWND window = nullptr;          // a window's device context: released by the window, not here
    bool fromGetDC = false;         // the window's own (GetDC), not a paint message's
    Bitmap* windowImage = nullptr;  // a context on a window's image, sharing its device context
    Bitmap* bitmap = nullptr;       // memory contexts: what is selected (the stock bitmap at first)
    Bitmap stockBitmap;             // the 1 x 1 monochrome bitmap a fresh memory context holds
    int32_t windowScale = 1;        // a window's device context: the window's scale
    // Above scale 1 the current position is kept here, in design units: the device context's
    // own cannot say which design unit an arc's end fell in.
    Point current;
};

// A colour bitmap as a top-down 32-bit DIB section (zeroed: black); null when the system refuses.
// Sizes are the caller's to check.
Bitmap* newDibSection(int32_t width, int32_t height);

// A context over a device context the caller owns (a window's, or the paint message's): the
// drawing state the raster expects of a fresh context is set on it, and what is drawn through it
// is mapped by scale (the window's). Freed with releaseForeignContext, which leaves the device
// context to its owner.
Context* wrapForeignContext(HDC dc, HWND window, int32_t scale = 1);
void releaseForeignContext(Context* context);

// For its lifetime, windows this thread creates take the awareness of parent where parent is
// per-monitor DPI aware and the thread is not (win32_window.cpp says why); otherwise nothing.
class ParentAwareness {
public:
    explicit ParentAwareness(HWND parent);
    ~ParentAwareness();
    ParentAwareness(const ParentAwareness&) = delete;
    ParentAwareness& operator=(const ParentAwareness&) = delete;

private:
    HANDLE previous = nullptr;  // the thread's DPI_AWARENESS_CONTEXT before, when changed
};

class DropTarget;
struct EditBox;

// A native edit box's colours, asked of the box's owner when the box paints; the window keeps
// the background brush it hands to the system.
struct EditColors {
    Color text = 0;
    Color back = 0xFFFFFF;
};
using EditColorQuery = bool (*)(void* owner, EditColors* colors);

struct Window {
    HWND hwnd = nullptr;
    WindowEvents* events = nullptr;
    WindowContexts contexts{this};
    EventDispatch dispatch;
    uint32_t eventTicks = 0;
    HCURSOR defaultCursor = nullptr;
    bool cursorTouched = false;
    DropTarget* dropTarget = nullptr;  // while registered with OLE
    bool oleInitialized = false;
    EditColorQuery editColorQuery = nullptr;
    void* editColorOwner = nullptr;
    HBRUSH editBrush = nullptr;
    EditBox* editBox = nullptr;           // the edit box open over this window (win32_editbox.cpp)
    bool topLevel = false;                // ours on the desktop (a Unicode window of its own class)
    int32_t minWidth = 0, minHeight = 0;  // a top-level's smallest client size, device pixels
    int32_t scale = 1;                    // device pixels per design unit (1-3), fixed at creation
};

// The OLE drop target (win32_dnd.cpp). revokeDropTarget is safe to call when none is registered
// and must run while the window still exists.
bool registerDropTarget(Window* window);
void revokeDropTarget(Window* window);

// The edit box's notifications that reach its parent (win32_editbox.cpp): true when the command
// was the box's. editBoxWindowGone: the window is being destroyed with the box inside.
bool editBoxCommand(Window* window, WPARAM wParam, LPARAM lParam);
void editBoxWindowGone(Window* window, bool notify);

// UTF-8 (or, failing that, Latin-1) to UTF-16, at most kMaxTextBytes of input.
std::wstring widen(const char* text);
// UTF-16 to UTF-8.
std::string narrow(const wchar_t* text, int length = -1);

}  // namespace platform
