// SPDX-License-Identifier: GPL-3.0-or-later
// A single-line edit box the platform opens over a rectangle of one of our windows: it shows a
// text in a font, alignment and colours of the caller's choosing, lets a person edit it (caret,
// selection, clipboard, input method where the system has one), scrolls horizontally rather than
// growing, and reports Return, Escape, the loss of keyboard focus and refused input.
//
// Threading: the thread of the window it opens over. Events are delivered from that window's
// event pump (pumpEvents) or, for keys the host delivered, from editBoxKey; a handler may destroy
// the box, after which the box is not touched again. Null boxes are answered with no-ops.
#pragma once

#include "platform/raster.h"
#include "platform/window.h"

#include <cstddef>
#include <cstdint>

namespace platform {

struct EditBox;

enum class EditBoxEvent : int32_t {
    returnKey,    // Return or Enter
    escapeKey,    // Escape
    focusLost,    // the keyboard focus moved elsewhere, or the box's window went away
    limitReached  // input refused because the text is at its limit
};

class EditBoxEvents {
public:
    virtual ~EditBoxEvents() = default;
    virtual void onEditBoxEvent(EditBox* box, EditBoxEvent event) = 0;
};

struct EditBoxOptions {
    // In the window's coordinates (design units), right and bottom exclusive. On a window at a
    // larger scale, the box and its font are that many times larger in device pixels.
    Rect rect;
    const char* text = "";  // UTF-8; cut at a character boundary to limit bytes
    FontDesc font;
    TextAlign align = TextAlign::left;
    Color textColor = 0;
    Color backColor = 0xFFFFFF;
    int32_t limit = 255;  // bytes of text, terminator not counted
    // Take the keyboard focus (only when opened by a click); it goes back on destroy.
    bool takeKeyboardFocus = false;
    EditBoxEvents* events = nullptr;
};

// Opens the box with the whole text selected. Null when the window is unusable.
EditBox* createEditBox(Window* window, const EditBoxOptions& options);
// Closes the box and gives the keyboard focus back if it had it. Safe when the window system
// already destroyed the box with its parent.
void destroyEditBox(EditBox* box);
// Copies at most size - 1 bytes of the text (cut at a character boundary) and a terminator;
// returns the bytes copied. size 0 or a null buffer copies nothing.
std::size_t editBoxText(EditBox* box, char* buffer, std::size_t size);

// Editing commands, as keys arrive from whatever delivers them.
enum class EditKey : int32_t {
    text,  // insert input.text (UTF-8), replacing the selection
    left,
    right,
    home,
    end,  // move the caret; shift extends the selection
    backspace,
    del,
    selectAll,
    copy,
    cut,
    paste,
    returnKey,
    escape,
};
struct EditKeyInput {
    EditKey key = EditKey::text;
    bool shift = false;
    const char* text = nullptr;
};
// A key the host delivered through its own key requests (it kept the keyboard). True when the
// box used it. May deliver an event (and so destroy the box) before returning.
bool editBoxKey(EditBox* box, const EditKeyInput& input);

// Selection and caret as byte offsets into the text, for callers and tests.
struct EditSelection {
    int32_t anchor = 0, caret = 0;
};
EditSelection editBoxSelection(EditBox* box);

}  // namespace platform
