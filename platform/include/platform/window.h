// SPDX-License-Identifier: GPL-3.0-or-later
// The window-system half of the platform layer: child windows inside a host's window and
// top-level windows of our own, their events, pointer and keyboard state, time and cursors. One
// implementation is linked per build (X11 or Win32 for the plug-in, an in-memory one for the unit
// tests). What a window reports, and when, is decided by rules every implementation shares
// (platform/window_dispatch.h).
//
// Threading: every call belongs to the thread that created the window (the host's user-interface
// thread, or the application's for a top-level window). Nothing here starts threads. The one
// per-thread initialisation: on Windows a window registered as a drop target keeps OLE initialised
// on its thread while it is registered.
#pragma once

#include "platform/raster.h"

#include <cstddef>
#include <cstdint>

namespace platform {

// A window we did not create: the host's parent (on X11 a window id, on Windows an HWND).
using NativeWindow = uintptr_t;

struct Window;

enum class DropKind : int32_t { files = 0, text = 1 };

// Named keys. A key that types a character and has no name here comes as none with its
// character; a key that neither types nor has a name (a modifier, a dead key, a media key) comes
// as unknown.
enum class Key : int32_t {
    none = 0,
    unknown,
    backspace,
    tab,
    returnKey,
    enter,  // the keypad's
    escape,
    space,
    del,
    insert,
    home,
    end,
    pageUp,
    pageDown,
    left,
    up,
    right,
    down,
    f1,
    f2,
    f3,
    f4,
    f5,
    f6,
    f7,
    f8,
    f9,
    f10,
    f11,
    f12,
};

struct KeyEvent {
    // The printable Unicode character the key types with the current layout, Shift and AltGr
    // (0 for none). Control never turns it into a control code, so shortcuts can match it; keys
    // that only type control codes (Return, Tab, Backspace, Escape) have 0. On Windows it is the
    // character the thread's message loop translated (TranslateMessage), dead keys included; X11
    // has no input method here: a dead key or a compose sequence types nothing.
    uint32_t character = 0;
    Key key = Key::none;
    // kModShift | kModControl | kModAlt as they are with this event: a modifier key's own press
    // already counts, its release no longer does. AltGr is none of them (on Windows, where it
    // reaches us as Control+Alt, those two bits are dropped when it typed the character).
    uint32_t modifiers = 0;
    // The physical key, the same number on every system whatever the layout: the PC set-1 scan
    // code (Q 16, Z 44), plus 0xE000 for the keys the PC keyboard marks as extended (arrows, the
    // navigation block, right Control and Alt, keypad Enter and /). On X11 that is the evdev code
    // (keycode minus 8) with the extended keys renumbered; keys off the PC layout keep their evdev
    // code. 0 when the system gives none (text typed by software).
    uint32_t scancode = 0;
    // A press of a key whose press onKey already had and that is not released yet (auto-repeat);
    // without a physical key, as the system flagged it.
    bool repeat = false;
};

// What a window reports: from pumpEvents on X11 and in memory, from the window procedure (the
// host's message loop) on Windows; the same rules either way.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    // The context draws into the window; it is presented after the call returns.
    virtual void onPaint(Context* context, const Rect& damaged) = 0;
    // button: 1 left, 2 middle, 3 right (physical). state: the buttons and modifiers (the
    // kButton* and kMod* bits below) as the window system recorded them with the press, the
    // pressed button included. A host's idle may deliver a quick click after its release, when
    // the live state no longer shows the button.
    virtual void onButtonDown(Context* context, Point where, int button, uint32_t state) = 0;
    // The window system destroyed the window (for example with its parent).
    virtual void onDestroyed() = 0;
    // A wheel turn over the window (X11 delivers it to the window itself): +1 away from the
    // user, -1 towards.
    virtual void onWheel(Context* /*context*/, Point /*where*/, float /*distance*/) {}
    // Whether a drop would be taken now (e.g. no modal view).
    virtual bool canDrop() { return true; }
    // files: count zero-terminated local paths; text: items[0] is the text and size its byte
    // size including the terminator. where is in window coordinates. True when taken.
    virtual bool onDrop(DropKind kind, const char* const* items, int32_t count, std::size_t size,
                        Point where) = 0;

    // Top-level windows only. A key pressed (down) or released while the window has the
    // keyboard and no edit box is open over it (an open box takes the presses, as editing
    // commands). A release reaches onKey exactly when its press did, with the press's character and
    // name; keys still down when the window loses the keyboard are released then. True when taken:
    // an untaken key goes on to the system (Alt+F4 on Windows closes through onCloseRequest).
    virtual bool onKey(const KeyEvent& /*key*/, bool /*down*/) { return false; }
    // Top-level windows only: the user asked to close the window (its close button, the window
    // manager, Alt+F4). The window stays until destroyWindow.
    virtual void onCloseRequest() {}
    // Top-level windows only: the window lost the keyboard focus (not to one of its own edit
    // boxes). Comes after the releases of the keys that were down.
    virtual void onFocusOut() {}
};

// The process-wide window class: the first registration reads system settings (swapped
// buttons); the class lives until the last registration is withdrawn. Returns the use count.
int32_t registerWindowClass();
int32_t unregisterWindowClass();
int32_t windowClassUseCount();

// The scale a window of ours takes on this desktop: 1, 2 or 3 device pixels per design unit each
// way. In order: the CORVEX_SCALE environment variable (1, 2 or 3), the desktop's own setting
// (GDK_SCALE, QT_SCALE_FACTOR, on X11 the Xft.dpi resource ÷ 96; on Windows the DPI of parent,
// or of the system, ÷ 96), else 1. Fractional settings round down. parent may be 0.
int32_t desktopScale(NativeWindow parent);
// The rule itself, for any system: the three variables' texts (null when unset) and the
// desktop's dots per inch (0 when unknown).
int32_t pickScale(const char* corvexScale, const char* gdkScale, const char* qtScaleFactor,
                  double dpi);

// Windows at a scale other than 1: sizes, positions, damage and pointer positions in every call
// and event are in design units; the window and its image are scale times larger in device
// pixels, and drawing into it is mapped by the raster (raster.h keeps its device-pixel wording for
// scale 1). A window's screen rectangle keeps its top-left corner in device pixels, so that a
// pointer position minus that corner is the position in the window in design units.
struct WindowOptions {
    NativeWindow parent = 0;
    int32_t width = 0, height = 0;
    int32_t scale = 1;
    const char* className = "Plugin";  // shown to the window system (WM_CLASS on X11)
    WindowEvents* events = nullptr;
};
// Creates and shows a child window. Null when the parent is unusable or the window system
// cannot be reached; never exits the process.
Window* createChildWindow(const WindowOptions& options);

struct TopLevelOptions {
    const char* title = "";         // UTF-8
    int32_t width = 0, height = 0;  // the client area
    // The smallest client size the user may resize to; 0 (or more than the size): the size.
    int32_t minWidth = 0, minHeight = 0;
    int32_t scale = 1;
    // What docks and task switchers group and name the window by: on X11 the class half of
    // WM_CLASS (the instance half is "corvex"). Windows names the class itself: ignored there.
    const char* className = "Plugin";
    // The window's icon at one or more sizes, in any order: colour bitmaps of 1 to 256 pixels a
    // side, taken as opaque and copied before the call returns (_NET_WM_ICON on X11; null entries
    // and other bitmaps are skipped). Windows takes a program's icon from its executable: ignored
    // there.
    Bitmap* const* icons = nullptr;
    int32_t iconCount = 0;
    WindowEvents* events = nullptr;
};
constexpr int32_t kMaxIconSide = 256;
// Creates and shows a window of our own on the desktop, with a title bar, a close button and a
// frame the user may resize. Null when the window system cannot be reached or the size is
// unusable; never exits the process. Every call below works on it as on a child window; it needs
// no registerWindowClass.
Window* createTopLevelWindow(const TopLevelOptions& options);
// A top-level window's title (UTF-8; invalid bytes are taken as Latin-1, control characters
// dropped, cut to kMaxTitleBytes at a character boundary). False for a child window or null.
bool setWindowTitle(Window* window, const char* utf8);
constexpr std::size_t kMaxTitleBytes = 1024;

// Destroys the window, its drop registration and every system resource it holds. Safe when the
// window system already destroyed the window. Called from inside one of the window's own event
// handlers, the window disappears and receives nothing more at once, and its memory and
// connection go when the outermost handler has returned.
void destroyWindow(Window* window);
NativeWindow nativeHandle(Window* window);
// The window's scale (1 for null).
int32_t windowScale(Window* window);
bool windowAlive(Window* window);

// Dispatches what is pending for this window: exposes are coalesced into one onPaint, button
// presses go to onButtonDown, drops to onDrop. paintOnly dispatches exposes alone and leaves
// everything else queued. Nested calls from inside an event handler are paint-only. On Windows,
// where the host's message loop delivers everything, both forms let one waiting paint message of
// the thread through, as the toolkit's tracking loops expect.
void pumpEvents(Window* window, bool paintOnly);
// Removes a pending left-button press, if one is queued; true when it did.
bool takeLeftButtonDown(Window* window);
// Tick count at which the event being handled was taken from the queue.
uint32_t eventTime(Window* window);

// A drawing context on the window's pixels. Drawing reaches the screen on release.
Context* getWindowContext(Window* window);
void releaseWindowContext(Window* window, Context* context);

// Screen rectangle of the window (left/top on screen, size).
Rect windowScreenRect(Window* window);
bool resizeWindow(Window* window, int32_t width, int32_t height);

// Foreign windows (the host's chain above ours): parent, screen rectangle, resize, title bar,
// raising. `via` is one of our windows, whose connection to the window system is used.
NativeWindow nativeParent(Window* via, NativeWindow window);
bool nativeScreenRect(Window* via, NativeWindow window, Rect* rect);
bool nativeResize(Window* via, NativeWindow window, int32_t width, int32_t height);
bool nativeHasCaption(Window* via, NativeWindow window);
bool nativeRaise(Window* via, NativeWindow window);

// ---- Input and time --------------------------------------------------------------------------
enum : uint32_t {
    kButtonLeft = 1,  // physical buttons
    kButtonMiddle = 2,
    kButtonRight = 4,
    kModShift = 8,
    kModControl = 16,
    kModAlt = 32,
};
struct PointerState {
    Point screen;
    uint32_t state = 0;  // the bits above
};
// The live pointer position and button/modifier state. False (and a zero state) without a
// usable window.
bool queryPointer(Window* window, PointerState* state);
// Whether the system swaps the left and right buttons; read when the first window is created.
bool swappedMouseButtons();
uint32_t ticks();  // milliseconds, wrapping
void sleepMs(uint32_t ms);
uint32_t doubleClickTime();

enum class Cursor : int32_t { standard, wait, sizeWE, sizeNS, sizeAll, sizeNESW, sizeNWSE };
void setCursor(Window* window, Cursor cursor);

// Registers (true) or withdraws (false) the window as a drop target for files and text.
bool setDropTarget(Window* window, bool active);

}  // namespace platform
