// SPDX-License-Identifier: GPL-3.0-or-later
// CKnobArc: Corvex's rotary knob, drawn as a thick coloured arc over a grey track. Keeps every
// behaviour of gui::CKnob (drag, wheel, keys, value mapping) and replaces only the drawing.
// User-interface thread only, like every view.
#pragma once

#include "gui/knob.h"

#include <cstdint>

class CKnobArc : public gui::CKnob {
public:
    // Colours are packed as the platform takes them: red in bits 0-7, green 8-15, blue 16-23.
    CKnobArc(const gui::CRect& size, gui::CControlListener* listener, int32_t tag,
             uint32_t backgroundColor, uint32_t arcColor, const gui::CPoint& offset);
    ~CKnobArc() override;

    // Draws the handle and clears the dirty state, also when nothing could be drawn.
    void draw(gui::CDrawContext* context) override;
    // Paints at four times the view's size off screen and shrinks the result into the view with
    // the halftone stretch, which gives smooth edges. Every pen, brush and surface made for one
    // drawing is released before it returns: nothing is cached between drawings.
    void drawHandle(gui::CDrawContext* context) override;

    uint32_t getBackgroundColor() const { return backgroundColor; }
    uint32_t getArcColor() const { return arcColor; }

    static constexpr uint32_t kTrackColor = 0x464646;  // grey (70, 70, 70)
    static constexpr int32_t kScale = 4;
    static constexpr int32_t kBoxInset = 64;  // at the drawing scale
    static constexpr int32_t kValuePenWidth = 16;
    static constexpr int32_t kTrackPenWidth = 32;

private:
    uint32_t backgroundColor;
    uint32_t arcColor;
};
