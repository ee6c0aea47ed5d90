// SPDX-License-Identifier: GPL-3.0-or-later
// CKnobArc: the arc drawing, one fresh off-screen surface per drawing.
#include "window/knob_arc.h"

#include "gui/drawcontext.h"

#include "platform/raster.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;

float toDegrees(float radians) { return static_cast<float>(radians * 180.0 / kPi); }

// A coordinate from a float that may be huge or NaN: never an undefined conversion.
int32_t truncate(float v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 1.0e9f) return 1000000000;
    if (v <= -1.0e9f) return -1000000000;
    return static_cast<int32_t>(v);
}

}  // namespace

CKnobArc::CKnobArc(const gui::CRect& size, gui::CControlListener* listener, int32_t tag,
                   uint32_t backgroundColor, uint32_t arcColor, const gui::CPoint& offset)
    : gui::CKnob(size, listener, tag, nullptr, nullptr, offset), backgroundColor(backgroundColor),
      arcColor(arcColor) {
    // 225° (lower left) running 270° clockwise: 0 lower left, 0.5 straight up, 1 lower right.
    setStartAngle(3.9269909858703613f);
    setRangeAngle(-4.71238899230957f);
    setInsetValue(16);
}

CKnobArc::~CKnobArc() = default;

void CKnobArc::draw(gui::CDrawContext* context) {
    drawHandle(context);
    setDirty(false);
}

void CKnobArc::drawHandle(gui::CDrawContext* context) {
    platform::Context* target = context ? context->getSystemContext() : nullptr;
    if (!target) return;
    const int32_t w = size.width();
    const int32_t h = size.height();
    if (w <= 0 || h <= 0 || w > platform::kMaxBitmapSide / kScale ||
        h > platform::kMaxBitmapSide / kScale)
        return;
    const int32_t sw = w * kScale;
    const int32_t sh = h * kScale;

    platform::Context* surface = platform::createContext(target);
    platform::Bitmap* bitmap = surface ? platform::createCompatibleBitmap(target, sw, sh) : nullptr;
    if (!surface || !bitmap) {
        if (bitmap) platform::deleteBitmap(bitmap);
        if (surface) platform::deleteContext(surface);
        return;
    }
    platform::Bitmap* oldBitmap = platform::selectBitmap(surface, bitmap);

    // The surface is always filled: the knob's transparency setting does not reach this drawing.
    platform::Brush* brush = platform::createSolidBrush(backgroundColor);
    platform::fillRect(surface, platform::Rect{0, 0, sw, sh}, brush);

    platform::PenDesc valueDesc;
    valueDesc.width = kValuePenWidth;
    valueDesc.color = arcColor;
    valueDesc.geometric = true;
    valueDesc.cap = platform::LineCap::flat;
    valueDesc.join = platform::LineJoin::bevel;
    platform::PenDesc trackDesc = valueDesc;
    trackDesc.width = kTrackPenWidth;
    trackDesc.color = kTrackColor;
    platform::Pen* valuePen = platform::createPen(valueDesc);
    platform::Pen* trackPen = platform::createPen(trackDesc);

    const float radius = static_cast<float>(sw - 2 * kBoxInset) / 2.0f;
    const platform::Point centre{truncate(kBoxInset + radius), truncate(kBoxInset + radius)};
    const float startDegrees = toDegrees(startAngle);
    const float rangeDegrees = toDegrees(rangeAngle);
    const platform::Point start{truncate(std::cos(startAngle) * radius + radius) + kBoxInset,
                                truncate(radius - std::sin(startAngle) * radius) + kBoxInset};

    platform::moveTo(surface, start);
    platform::Pen* oldPen = platform::selectPen(surface, trackPen);
    platform::angleArc(surface, centre, truncate(radius), startDegrees, rangeDegrees);

    // The knob's angle for its value; a zero range or a NaN value has none and draws no sweep.
    float angle = (value - bCoef) / aCoef;
    if (!std::isfinite(angle)) angle = startAngle;
    const float sweepDegrees = static_cast<float>((angle - startAngle) * 180.0 / kPi);
    // A zero sweep is skipped: the arc call would still draw its lead-in line from the truncated
    // start point to the exact arc start, a smear of arc colour on a knob at its minimum.
    platform::selectPen(surface, valuePen);
    platform::moveTo(surface, start);
    if (sweepDegrees != 0.0f)
        platform::angleArc(surface, centre, truncate(radius), startDegrees, sweepDegrees);

    const platform::StretchMode oldMode =
        platform::setStretchMode(target, platform::StretchMode::halftone);
    platform::stretchBlt(target, size.left, size.top, w, h, surface, 0, 0, sw, sh);
    platform::setStretchMode(target, oldMode);

    if (oldPen) platform::selectPen(surface, oldPen);
    platform::deletePen(valuePen);
    platform::deletePen(trackPen);
    platform::deleteBrush(brush);
    platform::selectBitmap(surface, oldBitmap);
    platform::deleteBitmap(bitmap);
    platform::deleteContext(surface);
}
