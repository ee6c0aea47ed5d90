// SPDX-License-Identifier: GPL-3.0-or-later
// CKnob: the angle mapping, the line and bitmap handles, and the drag, wheel and key input.
#include "gui/knob.h"

#include "gui/bitmap.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"

#include "platform/window.h"

#include <cmath>

namespace gui {

namespace {

constexpr float kTwoPiF = 6.2831854820251465f;
constexpr double kTwoPiD = 6.283185307179586;

// A pixel coordinate from a float that may be huge or not a number (a knob with a zero range,
// a NaN value): never an undefined conversion.
int32_t toPixel(float v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 1.0e9f) return 1000000000;
    if (v <= -1.0e9f) return -1000000000;
    return static_cast<int32_t>(v);
}

// Brings an angle difference into 0..2π the way the mapping expects.
float wrapAngle(float d) {
    float e = d;
    if (e < 0.0f) e += kTwoPiF;
    else if (static_cast<double>(e) > kTwoPiD) e = static_cast<float>(e - kTwoPiD);
    return e;
}

}  // namespace

CKnob::CKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background,
             CBitmap* handle, const CPoint& offset)
    : CControl(size, listener, tag, background), offset(offset), pHandle(handle) {
    if (pHandle) {
        pHandle->remember();
        inset = static_cast<int32_t>(pHandle->getWidth() / 2.0 + 2.5);
    }
    radius = static_cast<float>((size.right - size.left) / 2.0);
    rangeAngle = 1.0f;
    // The knob's own defaults, as intended: a subclass sets its own angles in its constructor.
    CKnob::setStartAngle(3.9269907474517822f);
    CKnob::setRangeAngle(-4.71238899230957f);
}

CKnob::~CKnob() {
    if (pHandle) pHandle->forget();
}

void CKnob::compute() {
    aCoef = (vmax - vmin) / rangeAngle;
    bCoef = vmin - aCoef * startAngle;
    halfAngle = (kTwoPiF - std::fabs(rangeAngle)) / 2.0f;
    setDirty(true);
}

void CKnob::setStartAngle(float val) {
    startAngle = val;
    compute();
}

void CKnob::setRangeAngle(float val) {
    rangeAngle = val;
    compute();
}

void CKnob::setColorHandle(CColor color) {
    colorHandle = color;
    setDirty(true);
}

void CKnob::setColorShadowHandle(CColor color) {
    colorShadowHandle = color;
    setDirty(true);
}

void CKnob::setHandleBitmap(CBitmap* bitmap) {
    if (pHandle) pHandle->forget();
    pHandle = nullptr;
    if (bitmap) {
        pHandle = bitmap;
        pHandle->remember();
        inset = static_cast<int32_t>(pHandle->getWidth() / 2.0 + 2.5);
    }
}

void CKnob::valueToPoint(CPoint& point) const {
    float alpha = (value - bCoef) / aCoef;
    // A zero range (or a NaN value) has no angle: the handle rests at the start.
    if (!std::isfinite(alpha)) alpha = startAngle;
    const float reach = radius - static_cast<float>(inset);
    point.x = toPixel(radius + std::cos(alpha) * reach + 0.5f);
    point.y = toPixel(radius - std::sin(alpha) * reach + 0.5f);
}

float CKnob::valueFromPoint(CPoint& point) const {
    float alpha =
        static_cast<float>(std::atan2(static_cast<double>(radius - static_cast<float>(point.y)),
                                      static_cast<double>(static_cast<float>(point.x) - radius)));
    if (alpha < 0.0f) alpha += kTwoPiF;
    float d = alpha - startAngle;
    if (rangeAngle < 0.0f) {
        d -= rangeAngle;
        const float e = wrapAngle(d);
        if (e > halfAngle - rangeAngle) return vmax;
        if (e > -rangeAngle) return vmin;
        if (d > halfAngle - rangeAngle) d -= kTwoPiF;
        else if (d < -halfAngle) d += kTwoPiF;
        return aCoef * d + vmax;
    }
    const float e = wrapAngle(d);
    if (e > rangeAngle + halfAngle) return vmin;
    if (e > rangeAngle) return vmax;
    if (d > rangeAngle + halfAngle) d -= kTwoPiF;
    else if (d < -halfAngle) d += kTwoPiF;
    return aCoef * d + vmin;
}

void CKnob::draw(CDrawContext* context) {
    if (pBackground) {
        if (getTransparency()) pBackground->drawTransparent(context, size, offset);
        else pBackground->draw(context, size, offset);
    }
    drawHandle(context);
    setDirty(false);
}

void CKnob::drawHandle(CDrawContext* context) {
    if (!context) return;
    CPoint where;
    valueToPoint(where);
    if (pHandle) {
        const int32_t width = pHandle->getWidth();
        const int32_t height = pHandle->getHeight();
        where.offset(size.left - width / 2, size.top - height / 2);
        CRect handleSize(where.x, where.y, where.x + width, where.y + height);
        pHandle->drawTransparent(context, handleSize, CPoint(0, 0));
        return;
    }
    CPoint origin(size.width() / 2, size.height() / 2);
    where.offset(size.left - 1, size.top);
    origin.offset(size.left - 1, size.top);
    context->setFrameColor(colorShadowHandle);
    context->moveTo(where);
    context->lineTo(origin);
    where.offset(1, -1);
    origin.offset(1, -1);
    context->setFrameColor(colorHandle);
    context->moveTo(where);
    context->lineTo(origin);
}

void CKnob::mouse(CDrawContext* context, CPoint& where) {
    if (!beginDrag(context, where)) return;
    if (parentFrame && parentFrame->tracksInIdle()) {
        // The first step now, as the loop takes it; the rest from the owner's idle calls.
        if (dragStep(context)) parentFrame->beginTracking(this, *context);
        else endTracking();
        return;
    }
    int32_t lastButtons = -1;
    bool down = true;
    while (down) {
        const CPoint previous = drag.where;
        down = dragStep(context);
        doIdleStuff();
        // Polling a pointer that does not move must not spin a core.
        if (drag.where == previous && drag.buttons == lastButtons) platform::sleepMs(1);
        lastButtons = drag.buttons;
    }
    endTracking();
}

bool CKnob::beginDrag(CDrawContext* context, const CPoint& where) {
    if (!context || !getMouseEnabled()) return false;
    const int32_t buttons = context->getMouseButtons();
    if (!(buttons & kMouseLeft)) return false;

    // Control+click: back to the default, announced to the listener but not as an edit.
    if (buttons == (kMouseLeft | kKeyControl)) {
        value = defaultValue;
        if (isDirty() && listener) listener->valueChanged(context, this);
        return false;
    }

    const float range = 200.0f;
    drag = Drag{};
    drag.entryValue = value;
    drag.step = (vmax - vmin) / range;
    drag.oldButton = buttons;
    drag.halfRange = static_cast<float>((vmax - vmin) / 2.0);
    drag.where = where;
    drag.lastPoint = CPoint(-1, -1);

    const int32_t mode = parentFrame ? parentFrame->getKnobMode() : 0;
    const bool alt = (buttons & kKeyAlt) != 0;
    if ((mode == 2 && !alt) || (mode != 2 && alt)) {
        float linearRange = range;
        if (buttons & kKeyShift) linearRange *= zoomFactor;
        drag.firstPoint = where;
        drag.linear = true;
        drag.step = (vmax - vmin) / linearRange;
    } else {
        CPoint local(where.x - size.left, where.y - size.top);
        drag.old = valueFromPoint(local);
    }
    drag.active = true;
    if (parentFrame) {
        parentFrame->beginEdit(tag);
        parentFrame->setEditView(this);
    }
    return true;
}

bool CKnob::dragStep(CDrawContext* context) {
    const float range = 200.0f;
    drag.buttons = context->getMouseButtons();
    const CPoint where = drag.where;
    if (where != drag.lastPoint) {
        drag.lastPoint = where;
        if (drag.linear) {
            const float diff =
                static_cast<float>((drag.firstPoint.y - where.y) + (where.x - drag.firstPoint.x));
            if (drag.buttons != drag.oldButton) {
                float linearRange = range;
                if (drag.buttons & kKeyShift) linearRange *= zoomFactor;
                const float newStep = (vmax - vmin) / linearRange;
                // Keeps the value under the pointer: only the sensitivity changes.
                drag.entryValue += diff * (drag.step - newStep);
                drag.step = newStep;
                drag.oldButton = drag.buttons;
            }
            value = diff * drag.step + drag.entryValue;
            bounceValue();
        } else {
            CPoint local(where.x - size.left, where.y - size.top);
            value = valueFromPoint(local);
            // A jump of more than half the range crossed the gap: stay at the end we came from.
            if (drag.old - value > drag.halfRange) value = vmax;
            else if (value - drag.old > drag.halfRange) value = vmin;
            else drag.old = value;
        }
        if (isDirty() && listener) listener->valueChanged(context, this);
    }
    context->getMouseLocation(drag.where);
    return (drag.buttons & kMouseLeft) != 0;
}

bool CKnob::trackStep(CDrawContext* context) { return drag.active && dragStep(context); }

void CKnob::endTracking() {
    if (!drag.active) return;
    drag.active = false;
    if (parentFrame) parentFrame->endEdit(tag);
}

bool CKnob::onWheel(CDrawContext* context, const CPoint&, float distance) {
    if (!getMouseEnabled()) return false;
    const int32_t buttons = context ? context->getMouseButtons() : 0;
    if (buttons & kKeyShift) value += 0.1f * distance * wheelInc;
    else value += wheelInc * distance;
    bounceValue();
    if (isDirty() && listener) listener->valueChanged(context, this);
    return true;
}

int32_t CKnob::onKeyDown(CKeyCode& keyCode) {
    float step = 0.0f;
    switch (keyCode.key) {
    case CKey::up:
    case CKey::right: step = 1.0f; break;
    case CKey::left:
    case CKey::down: step = -1.0f; break;
    default: return -1;
    }
    if (keyCode.modifiers & kKeyShift) value += 0.1f * step * wheelInc;
    else value += wheelInc * step;
    bounceValue();
    if (isDirty() && listener) listener->valueChanged(nullptr, this);
    return 1;
}

}  // namespace gui
