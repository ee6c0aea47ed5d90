// SPDX-License-Identifier: GPL-3.0-or-later
// CLabel: a fixed text centred in a filled box outlined in the font colour; shows what was
// dropped on it. User-interface thread only, like every view.
#pragma once

#include "gui/paramdisplay.h"

#include <cstdint>

class CLabel : public gui::CParamDisplay {
public:
    // text may be null (empty).
    CLabel(const gui::CRect& size, const char* text);
    ~CLabel() override;

    void draw(gui::CDrawContext* context) override;
    // A list of files (count at least 1) sets the text to "count : first at x", x from the
    // label's left edge; anything else changes nothing. Always answers true.
    bool onDrop(void** items, int32_t nbItems, int32_t type, gui::CPoint& where) override;

    // Copies the text (null keeps the old one) and marks the label dirty either way. A text
    // longer than 255 bytes is cut at the last whole UTF-8 character that fits.
    void setLabel(const char* text);
    const char* getLabel() const { return label; }

private:
    char label[gui::kTextBufferSize] = {};
};
