// SPDX-License-Identifier: GPL-3.0-or-later
// CControl: the base of every view that carries a value between a minimum and a maximum, tells a
// listener when it changed, and redraws when the value differs from the one last drawn.
// CControlListener: how a control reports a changed value. User-interface thread only.
#pragma once

#include "gui/view.h"

namespace gui {

class CControl;
class CBitmap;

class CControlListener {
public:
    virtual ~CControlListener() = default;
    // context is null when the change came from a key.
    virtual void valueChanged(CDrawContext* context, CControl* control) = 0;
};

class CControl : public CView {
public:
    // Takes a reference on background (may be null); the control draws with mouse handling on
    // and transparency off.
    CControl(const CRect& size, CControlListener* listener, int32_t tag,
             CBitmap* background = nullptr);
    ~CControl() override;

    void draw(CDrawContext* context) override = 0;
    // Dirty when the value differs from the one last drawn (always, when either is NaN) or when
    // the view itself was marked.
    bool isDirty() override;
    // true: the old value is made to differ from the value; false: the value counts as drawn.
    void setDirty(bool state = true) override;

    // Lets the host and the window breathe inside a tracking loop (through the frame's editor).
    virtual void doIdleStuff();
    // Store and read only: no clamping, no dirty marking, no listener call.
    virtual void setValue(float val) { value = val; }
    virtual float getValue() const { return value; }
    virtual void setMin(float val) { vmin = val; }
    virtual float getMin() const { return vmin; }
    virtual void setMax(float val) { vmax = val; }
    virtual float getMax() const { return vmax; }
    virtual void setOldValue(float val) { oldValue = val; }
    virtual float getOldValue() const { return oldValue; }
    virtual void setDefaultValue(float val) { defaultValue = val; }
    virtual float getDefaultValue() const { return defaultValue; }
    virtual void setTag(int32_t val) { tag = val; }
    // Releases the old bitmap and takes a reference on the new one (either may be null).
    virtual void setBackground(CBitmap* bitmap);
    virtual CBitmap* getBackground() const { return pBackground; }
    virtual void setBackOffset(const CPoint& offset) { backOffset = offset; }
    // The offset becomes the view's own top-left corner.
    virtual void copyBackOffset();
    virtual void setWheelInc(float val) { wheelInc = val; }
    virtual float getWheelInc() const { return wheelInc; }
    // Above the maximum: the maximum; else below the minimum: the minimum. NaN stays NaN.
    virtual void bounceValue();

    int32_t getTag() const { return tag; }
    // True for the second of two calls within the double-click time (frame ticks); the call after
    // a double click starts afresh.
    bool isDoubleClick();
    const CPoint& getBackOffset() const { return backOffset; }
    CControlListener* getListener() const { return listener; }
    void setListener(CControlListener* l) { listener = l; }
    int32_t getDoubleClickTime() const { return doubleClickTime; }

protected:
    CControlListener* listener = nullptr;
    int32_t tag = 0;
    float oldValue = 1.0f;
    float defaultValue = 0.5f;
    float value = 0.0f;
    float vmin = 0.0f;
    float vmax = 1.0f;
    float wheelInc = 0.1f;
    int32_t lastTicks = -1;
    bool clickPending = false;  // lastTicks holds a first click
    int32_t doubleClickTime = 250;
    CBitmap* pBackground = nullptr;
    CPoint backOffset;
};

}  // namespace gui
