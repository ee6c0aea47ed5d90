// SPDX-License-Identifier: GPL-3.0-or-later
// CKnob: the rotary control. Maps its value to an angle on an arc, turns circular and linear mouse
// drags, wheel turns and arrow keys into value changes, and draws a line handle or a handle bitmap
// over an optional background bitmap. User-interface thread only; a drag blocks that thread in
// mouse() until the left button is released, letting only paint events and the host's idle in,
// unless the frame's owner asks drags to follow its idle calls (then one step per idle).
#pragma once

#include "gui/control.h"

namespace gui {

class CKnob : public CControl {
public:
    // handle may be null (a line handle is drawn); offset: where drawing starts in background.
    CKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background,
          CBitmap* handle, const CPoint& offset);
    ~CKnob() override;

    void draw(CDrawContext* context) override;
    // where: in the parent's coordinates. Tracks the drag itself until the button is released,
    // or hands it to the frame's idle calls.
    void mouse(CDrawContext* context, CPoint& where) override;
    bool trackStep(CDrawContext* context) override;
    void endTracking() override;
    // The arrow keys; Shift makes the step a tenth.
    int32_t onKeyDown(CKeyCode& keyCode) override;
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;

    virtual void drawHandle(CDrawContext* context);
    // Radians, counter-clockwise from the positive x axis; the range is signed (negative:
    // clockwise). Either setter recomputes the mapping and marks the knob dirty.
    virtual void setStartAngle(float val);
    virtual float getStartAngle() const { return startAngle; }
    virtual void setRangeAngle(float val);
    virtual float getRangeAngle() const { return rangeAngle; }
    // In the view's own coordinates (origin at its top-left corner).
    virtual void valueToPoint(CPoint& point) const;
    // A point in the gap outside the range snaps to the nearer end.
    virtual float valueFromPoint(CPoint& point) const;
    virtual void setInsetValue(int32_t val) { inset = val; }
    virtual void setColorShadowHandle(CColor color);
    virtual void setColorHandle(CColor color);
    virtual void setHandleBitmap(CBitmap* bitmap);
    virtual void setZoomFactor(float val) { zoomFactor = val; }
    virtual float getZoomFactor() const { return zoomFactor; }

    CColor getColorHandle() const { return colorHandle; }
    CColor getColorShadowHandle() const { return colorShadowHandle; }
    int32_t getInsetValue() const { return inset; }

protected:
    void compute();

    // What a drag carries from one step to the next.
    struct Drag {
        float entryValue = 0.0f;
        float step = 0.0f;
        float halfRange = 0.0f;
        float old = 0.0f;
        int32_t oldButton = 0;
        int32_t buttons = 0;
        CPoint firstPoint;
        CPoint lastPoint;
        CPoint where;
        bool linear = false;
        bool active = false;
    };
    // Everything before the first step; false when the press starts no drag.
    bool beginDrag(CDrawContext* context, const CPoint& where);
    // Follows the pointer once: the value from the last position read, then the next position.
    // False once the left button is up.
    bool dragStep(CDrawContext* context);
    Drag drag;

    CPoint offset;
    CColor colorHandle = kWhiteCColor;
    CColor colorShadowHandle = kGreyCColor;
    CBitmap* pHandle = nullptr;
    int32_t inset = 3;
    float startAngle = 0.0f;
    float rangeAngle = 1.0f;
    float halfAngle = 0.0f;
    float aCoef = 0.0f;  // value per radian
    float bCoef = 0.0f;  // value at angle zero
    float radius = 0.0f;
    float zoomFactor = 1.5f;
};

}  // namespace gui
