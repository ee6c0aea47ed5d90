// SPDX-License-Identifier: GPL-3.0-or-later
// Internal to the platform: what an edit box does with a key, shared by every backend so that
// they behave alike. Text is UTF-8; caret and anchor are byte offsets on character boundaries.
#pragma once

#include "platform/editbox.h"

#include <string>

namespace platform {

class EditModel {
public:
    enum class Result {
        none,     // nothing to do
        moved,    // caret or selection changed: redraw
        changed,  // the text changed: redraw
        refused,  // input refused at the limit
        returnKey,
        escapeKey,
        copy,   // the backend puts selected() on the clipboard
        cut,    // the same, and the selection is already deleted
        paste,  // the backend fetches the clipboard and calls insert
    };

    void reset(const char* text, int32_t limit);
    Result apply(const EditKeyInput& input);
    // Replaces the selection with as many whole characters of utf8 as fit the limit; control
    // characters and invalid sequences are dropped. refused when nothing could be inserted.
    Result insert(const std::string& utf8);
    void selectAll();
    // Places the caret (extend: the anchor stays).
    void setCaret(int32_t offset, bool extend);
    // After a cut: the backend has taken selected() and removes it with this.
    void deleteSelection();

    const std::string& text() const { return content; }
    std::string selected() const;
    int32_t caret() const { return caretPos; }
    int32_t anchor() const { return anchorPos; }
    bool hasSelection() const { return caretPos != anchorPos; }
    int32_t limit() const { return maxBytes; }
    int32_t previousBoundary(int32_t offset) const;
    int32_t nextBoundary(int32_t offset) const;

private:
    std::string content;
    int32_t caretPos = 0;
    int32_t anchorPos = 0;
    int32_t maxBytes = 255;
};

}  // namespace platform
