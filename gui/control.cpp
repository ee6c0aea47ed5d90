// SPDX-License-Identifier: GPL-3.0-or-later
// CControl: value bookkeeping, the dirty rule, the background reference and double clicks.
#include "gui/control.h"

#include "gui/bitmap.h"
#include "gui/frame.h"

#include "platform/window.h"

namespace gui {

CControl::CControl(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background)
    : CView(size), listener(listener), tag(tag), pBackground(background) {
    // The platform's setting, but never so short that a deliberate double click is missed.
    const uint32_t systemTime = platform::doubleClickTime();
    doubleClickTime = systemTime < 250u    ? 250
                      : systemTime > 5000u ? 5000
                                           : static_cast<int32_t>(systemTime);
    setTransparency(false);
    setMouseEnabled(true);
    if (pBackground) pBackground->remember();
}

CControl::~CControl() {
    if (pBackground) pBackground->forget();
}

bool CControl::isDirty() {
    // Written as a negated equality so that a NaN on either side counts as a change.
    return !(oldValue == value) || CView::isDirty();
}

void CControl::setDirty(bool state) {
    CView::setDirty(state);
    if (state) oldValue = value != -1.0f ? -1.0f : 0.0f;
    else oldValue = value;
}

void CControl::doIdleStuff() {
    if (parentFrame) parentFrame->doIdleStuff();
}

void CControl::setBackground(CBitmap* bitmap) {
    if (pBackground) pBackground->forget();
    pBackground = bitmap;
    if (pBackground) pBackground->remember();
}

void CControl::copyBackOffset() { backOffset(size.left, size.top); }

void CControl::bounceValue() {
    if (value > vmax) value = vmax;
    else if (value < vmin) value = vmin;
}

bool CControl::isDoubleClick() {
    const uint32_t now = parentFrame ? parentFrame->getTicks() : 0;
    // Elapsed time in wrapping arithmetic: the tick counter passes 2^31 after 24.8 days of
    // uptime, where a signed "0 or below means none" test would stop recognising clicks.
    if (clickPending && static_cast<uint32_t>(now - static_cast<uint32_t>(lastTicks)) <
                            static_cast<uint32_t>(doubleClickTime)) {
        clickPending = false;
        lastTicks = 0;
        return true;
    }
    clickPending = true;
    lastTicks = static_cast<int32_t>(now);
    return false;
}

}  // namespace gui
