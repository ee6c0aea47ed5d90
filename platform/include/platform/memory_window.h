// SPDX-License-Identifier: GPL-3.0-or-later
// Controls of the in-memory window system, for tests: windows are images, and the pointer, the
// buttons, the clock and the queued events are whatever the test sets.
#pragma once

#include "platform/editbox.h"
#include "platform/window.h"

#include <string>
#include <vector>

namespace platform::memory {

// Forgets every host window and resets pointer, clock and settings (not live child windows).
void reset();

// A window standing in for a host's; screen position and size, an optional parent, a title bar.
NativeWindow createHostWindow(Rect screen, NativeWindow parent = 0, bool caption = false);
Rect hostWindowRect(NativeWindow window);
int32_t hostResizeCount(NativeWindow window);
// What the host chain looks like from a child window: its parent's handle.
NativeWindow childParent(Window* window);

void setPointer(Point screen);
void setState(uint32_t buttonsAndModifiers);  // kButton* | kMod* bits
void setTicks(uint32_t ms);                   // sleepMs advances this clock, it never blocks
void setSwappedButtonsSetting(bool swapped);  // read when the window class is first registered
void setDesktopDpi(double dpi);               // what desktopScale reads besides the variables

void postPaint(Window* window, Rect damaged);
void postButtonDown(Window* window, Point where, int button);
void postDestroy(Window* window);  // as if the window system destroyed it
void postDrop(Window* window, DropKind kind, std::vector<std::string> items);
// Top-level windows only (the window system sends a child none of these): a key, the user's
// request to close, the loss of the keyboard focus.
void postKey(Window* window, const KeyEvent& key, bool down);
void postCloseRequest(Window* window);
void postFocusOut(Window* window);
int32_t pendingEvents(Window* window);

Bitmap* windowImage(Window* window);
int32_t presentCount(Window* window);
Rect lastPresented(Window* window);
Cursor currentCursor(Window* window);
bool isDropTarget(Window* window);
int32_t liveWindows();
// The last drop's answer from the window's handler.
bool lastDropTaken(Window* window);
// A top-level window's title and the smallest client size the user may resize it to (empty and
// 0 x 0 for a child window). A top-level window stands at the screen's top-left corner.
std::string windowTitle(Window* window);
Point windowMinSize(Window* window);

// Edit boxes: the one most recently opened over window (null when none), how it was opened, and
// input as a person would give it (events reach the box's handler at once).
EditBox* editBoxOf(Window* window);
int32_t liveEditBoxes();
EditBoxOptions editBoxOptions(EditBox* box);  // text is not kept: read it with editBoxText
bool editBoxHasFocus(EditBox* box);
void editBoxType(EditBox* box, const char* utf8);  // one character at a time
void editBoxFocusOut(EditBox* box);
void setClipboard(const std::string& text);
std::string clipboard();

}  // namespace platform::memory
