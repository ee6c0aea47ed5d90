// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for a host's side of Win32, for our tools and tests: a top-level window to embed
// into, reading a window's pixels back, input as a user gives it (SendInput), and an OLE drag
// source. Not part of the plug-in. All on the calling thread unless said otherwise.
#pragma once

#include "platform/window.h"

#include <string>
#include <vector>

namespace testkit::win32host {

using platform::NativeWindow;
using platform::Point;

// A shown top-level window whose client area is width x height; 0 on failure.
NativeWindow create(int32_t width, int32_t height, const char* title);
void destroy(NativeWindow window);
// Dispatches the thread's waiting messages for at least ms milliseconds; false once a quit
// message arrived.
bool pump(uint32_t ms);

// The pixels of a window's client area as the screen shows them (0x00RRGGBB, row-major).
bool readPixels(NativeWindow window, std::vector<uint32_t>* pixels, int32_t* width,
                int32_t* height);
// The screen position of a window's client-area origin.
Point clientOrigin(NativeWindow window);
// The first child of parent with the given class name, or 0.
NativeWindow findChild(NativeWindow parent, const char* className);
bool classRegistered(const char* className, void* module);

// Input through the system queue, as a mouse and keyboard would give it; safe from any thread.
bool movePointer(int32_t x, int32_t y);
bool button(int32_t number, bool press);  // 1 left, 2 middle, 3 right (logical)
bool key(uint16_t virtualKey, bool press);

// Drags files (paths, UTF-8) or a text onto the screen point `at` and drops there, through the
// system's drag-and-drop loop. Returns the drop effect the target answered (0: none).
uint32_t dragFiles(const std::vector<std::string>& paths, Point at);
uint32_t dragText(const std::string& text, Point at);

// Writes a shortcut (.lnk) at linkPath pointing to target; false on failure.
bool writeShortcut(const std::string& linkPath, const std::string& target);

}  // namespace testkit::win32host
