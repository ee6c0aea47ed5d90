// SPDX-License-Identifier: GPL-3.0-or-later
// CDrawContext and COffscreenContext over the platform's device contexts.
#include "gui/drawcontext.h"

#include "gui/bitmap.h"
#include "gui/frame.h"

#include <memory>
#include <new>

namespace gui {

const char* const standardFontName[kNumStandardFonts] = {"Arial", "Arial", "Arial", "Arial",
                                                         "Arial", "Arial", "Arial", "Symbol"};
const int32_t standardFontSize[kNumStandardFonts] = {12, 18, 14, 12, 11, 10, 9, 13};

namespace {
constexpr int32_t kStackPoints = 30;

int32_t saturatingAdd(int32_t a, int32_t b) {
    const int64_t v = static_cast<int64_t>(a) + b;
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

CRect frameSizeOr1000(CFrame* frame) {
    CRect r(0, 0, 1000, 1000);
    if (frame) frame->getViewSize(r);
    return r;
}
}  // namespace

CDrawContext::CDrawContext(CFrame* frame, platform::Context* systemContext,
                           platform::Window* window)
    : systemContext(systemContext), window(window), frame(frame) {
    clipRect = frameSizeOr1000(frame);
    if (systemContext) {
        // Record what the context held so that it can be handed back as it came.
        oldBrush = platform::selectedBrush(systemContext);
        oldPen = platform::selectedPen(systemContext);
        oldFont = platform::selectedFont(systemContext);
        platform::setBkMode(systemContext, platform::BkMode::transparent);
    }
    penStyle = platform::PenStyle::solid;
    if (window) {
        const platform::Rect r = platform::windowScreenRect(window);
        screenOrigin = CPoint(r.left, r.top);
    }
    if (systemContext) {
        setFrameColor(frameColor);
        setLineStyle(lineStyle);
        setFillColor(fillColor);
        setFontColor(fontColor);
    }
}

CDrawContext::~CDrawContext() {
    if (systemContext) {
        if (oldBrush) platform::selectBrush(systemContext, oldBrush);
        if (oldPen) platform::selectPen(systemContext, oldPen);
        if (oldFont) platform::selectFont(systemContext, oldFont);
    }
    if (brush) platform::deleteBrush(brush);
    if (pen) platform::deletePen(pen);
    if (font) platform::deleteFont(font);
}

void CDrawContext::moveTo(const CPoint& p) { platform::moveTo(systemContext, device(p)); }

void CDrawContext::lineTo(const CPoint& p) { platform::lineTo(systemContext, device(p)); }

namespace {
// Translated copies of a point list: on the stack up to 30 points, else one exact heap array.
template <typename Fn> void withTranslated(const CPoint* pts, int32_t n, CPoint offset, Fn&& fn) {
    if (!pts || n <= 0) return;
    platform::Point local[kStackPoints];
    std::unique_ptr<platform::Point[]> heap;
    platform::Point* out = local;
    if (n > kStackPoints) {
        heap.reset(new (std::nothrow) platform::Point[static_cast<size_t>(n)]);
        if (!heap) return;
        out = heap.get();
    }
    for (int32_t i = 0; i < n; ++i)
        out[i] = {saturatingAdd(pts[i].x, offset.x), saturatingAdd(pts[i].y, offset.y)};
    fn(out, n);
}
}  // namespace

void CDrawContext::polyLine(const CPoint* points, int32_t count) {
    withTranslated(points, count, offset, [&](const platform::Point* p, int32_t n) {
        platform::polyline(systemContext, p, n);
    });
}

void CDrawContext::fillPolygon(const CPoint* points, int32_t count) {
    withTranslated(points, count, offset, [&](const platform::Point* p, int32_t n) {
        platform::Pen* previous = platform::selectPen(systemContext, platform::stockNullPen());
        platform::polygon(systemContext, p, n);
        if (previous) platform::selectPen(systemContext, previous);
    });
}

void CDrawContext::drawRect(const CRect& r) {
    platform::moveTo(systemContext, device(CPoint(r.left, r.top)));
    platform::lineTo(systemContext, device(CPoint(r.right, r.top)));
    platform::lineTo(systemContext, device(CPoint(r.right, r.bottom)));
    platform::lineTo(systemContext, device(CPoint(r.left, r.bottom)));
    platform::lineTo(systemContext, device(CPoint(r.left, r.top)));
}

void CDrawContext::fillRect(const CRect& r) {
    platform::Pen* previous = platform::selectPen(systemContext, platform::stockNullPen());
    const platform::Rect inner = device(add(r.left, 1), add(r.top, 1), r.right, r.bottom);
    platform::fillRect(systemContext, inner, brush);
    if (previous) platform::selectPen(systemContext, previous);
}

void CDrawContext::drawEllipse(const CRect& r) {
    const CPoint p(static_cast<int32_t>((static_cast<int64_t>(r.right) - r.left) / 2 + r.left),
                   r.top);
    drawArc(r, p, p);
}

void CDrawContext::fillEllipse(const CRect& r) {
    platform::Pen* previous = platform::selectPen(systemContext, platform::stockNullPen());
    platform::ellipse(systemContext,
                      device(add(r.left, 1), add(r.top, 1), add(r.right, 1), add(r.bottom, 1)));
    if (previous) platform::selectPen(systemContext, previous);
}

void CDrawContext::drawArc(const CRect& r, const CPoint& from, const CPoint& to) {
    platform::arc(systemContext, device(r.left, r.top, add(r.right, 1), add(r.bottom, 1)),
                  device(from), device(to));
}

void CDrawContext::fillArc(const CRect& r, const CPoint& from, const CPoint& to) {
    platform::Pen* previous = platform::selectPen(systemContext, platform::stockNullPen());
    platform::pie(systemContext, device(add(r.left, 1), add(r.top, 1), r.right, r.bottom),
                  device(from), device(to));
    if (previous) platform::selectPen(systemContext, previous);
}

void CDrawContext::drawPoint(const CPoint& p, CColor color) {
    platform::setPixel(systemContext, device(p), color.packed());
}

CColor CDrawContext::getPoint(const CPoint& p) {
    return CColor::fromPacked(platform::getPixel(systemContext, device(p)));
}

void CDrawContext::floodFill(const CPoint& p) {
    platform::floodFillSurface(systemContext, device(p));
}

void CDrawContext::setLineStyle(CLineStyle style) {
    lineStyle = style;
    penStyle = style == kDottedLine ? platform::PenStyle::dotted : platform::PenStyle::solid;
    rebuildPen();
}

void CDrawContext::setLineWidth(int32_t width) {
    lineWidth = width;
    rebuildPen();
}

void CDrawContext::setFrameColor(CColor color) {
    frameColor = color;
    rebuildPen();
}

void CDrawContext::rebuildPen() {
    if (!systemContext) return;
    platform::PenDesc d;
    d.style = penStyle;
    d.width = lineWidth;
    d.color = frameColor.packed();
    platform::Pen* created = platform::createPen(d);
    if (!created) return;
    platform::selectPen(systemContext, created);
    if (pen) platform::deletePen(pen);
    pen = created;
}

void CDrawContext::setDrawMode(CDrawMode mode) {
    if (mode == drawMode) return;
    drawMode = mode;
    const platform::Rop2 rop = mode == kModeOr    ? platform::Rop2::mergePen
                               : mode == kModeXor ? platform::Rop2::notXorPen
                                                  : platform::Rop2::copyPen;
    platform::setRop2(systemContext, rop);
}

void CDrawContext::setClipRect(const CRect& clip) {
    clipRect = clip;
    const platform::Rect r{clip.left, clip.top, clip.right, clip.bottom};
    platform::setClipRect(systemContext, &r);
}

void CDrawContext::resetClipRect() { setClipRect(frameSizeOr1000(frame)); }

void CDrawContext::setFillColor(CColor color) {
    fillColor = color;
    if (!systemContext) return;
    platform::setBkColor(systemContext, color.packed());
    platform::Brush* created = platform::createSolidBrush(color.packed());
    if (!created) return;  // the previous brush stays selected and owned
    platform::selectBrush(systemContext, created);
    if (brush) platform::deleteBrush(brush);
    brush = created;
}

void CDrawContext::setFontColor(CColor color) {
    fontColor = color;
    platform::setTextColor(systemContext, color.packed());
}

void CDrawContext::setFont(CFont f, int32_t size, int32_t style) {
    if (f < 0 || f >= kNumStandardFonts) f = kFontSystem;
    fontId = f;
    fontSize = size != 0 ? size : standardFontSize[f];
    platform::FontDesc d;
    d.height = -fontSize;
    d.weight = (style & kStyleBold) ? 700 : 400;
    d.italic = (style & kStyleItalic) != 0;
    d.underline = (style & kStyleUnderline) != 0;
    d.pitchAndFamily = 0x22;
    d.face = standardFontName[f];
    if (f == kFontSymbol) d.pitchAndFamily = 0x50;
    if (f == kFontSystem) d.weight = 700;
    if (!systemContext) return;
    platform::Font* created = platform::createFont(d);
    if (!created) return;
    platform::selectFont(systemContext, created);
    if (font) platform::deleteFont(font);
    font = created;
}

int32_t CDrawContext::getStringWidth(const char* text) {
    return platform::textExtent(systemContext, text).width;
}

void CDrawContext::drawString(const char* text, const CRect& r, int16_t opaque,
                              CHoriTxtAlign align) {
    if (!text) return;
    platform::Rect rr = device(r.left, r.top, r.right, r.bottom);
    platform::setBkMode(systemContext,
                        opaque ? platform::BkMode::opaque : platform::BkMode::transparent);
    platform::TextAlign a = platform::TextAlign::left;
    if (align == kAlignCenter) a = platform::TextAlign::center;
    else if (align == kAlignRight) a = platform::TextAlign::right;
    else rr.left = add(rr.left, 1);
    platform::drawText(systemContext, text, rr, a);
    platform::setBkMode(systemContext, platform::BkMode::transparent);
}

platform::Window* CDrawContext::pointerWindow() const {
    if (window) return window;
    return frame ? frame->getSystemWindow() : nullptr;
}

int32_t CDrawContext::getMouseButtons() {
    if (frame && frame->isDisposed()) return 0;
    platform::PointerState s;
    if (hasEventState) s.state = eventState;
    else if (!platform::queryPointer(pointerWindow(), &s)) return 0;
    const bool swapped = platform::swappedMouseButtons();
    int32_t buttons = 0;
    if (s.state & platform::kButtonLeft) buttons |= swapped ? kMouseRight : kMouseLeft;
    if (s.state & platform::kButtonMiddle) buttons |= kMouseMiddle;
    if (s.state & platform::kButtonRight) buttons |= swapped ? kMouseLeft : kMouseRight;
    if (s.state & platform::kModShift) buttons |= kKeyShift;
    if (s.state & platform::kModControl) buttons |= kKeyControl;
    if (s.state & platform::kModAlt) buttons |= kKeyAlt;
    return buttons;
}

void CDrawContext::getMouseLocation(CPoint& where) {
    platform::PointerState s;
    platform::queryPointer(pointerWindow(), &s);
    where = CPoint(s.screen.x - screenOrigin.x, s.screen.y - screenOrigin.y);
}

bool CDrawContext::waitDoubleClick() {
    CPoint p;
    getMouseLocation(p);
    const CRect box(p.x - 2, p.y - 2, p.x + 2, p.y + 2);
    platform::Window* w = pointerWindow();
    const uint32_t limit = platform::eventTime(w) + platform::doubleClickTime();
    uint32_t now = platform::ticks();
    while (now < limit) {
        CPoint q;
        getMouseLocation(q);
        if (!box.pointInside(q)) return false;
        if (platform::takeLeftButtonDown(w)) return true;
        // Poll gently: the window system queues the click for us meanwhile.
        platform::sleepMs(1);
        now = platform::ticks();
    }
    return false;
}

bool CDrawContext::waitDrag() {
    if (!frame) return false;
    CPoint p;
    getMouseLocation(p);
    const CRect box(p.x - 2, p.y - 2, p.x + 2, p.y + 2);
    while (true) {
        if (!(getMouseButtons() & kMouseLeft)) return false;
        frame->doIdleStuff();
        CPoint q;
        getMouseLocation(q);
        if (!box.pointInside(q)) return true;
    }
}

// ---- COffscreenContext -----------------------------------------------------------------------

COffscreenContext::COffscreenContext(CDrawContext* context, CBitmap* bitmap, bool drawInBitmap)
    : CDrawContext(context ? context->getFrame() : nullptr, nullptr, nullptr),
      backgroundBitmap(bitmap) {
    if (bitmap) {
        width = bitmap->getWidth();
        height = bitmap->getHeight();
        clipRect = CRect(0, 0, width, height);
    } else {
        width = height = 20;
    }
    ownsPixmap = false;
    systemContext = platform::createContext(context ? context->getSystemContext() : nullptr);
    if (!systemContext) return;
    if (drawInBitmap && bitmap && bitmap->getHandle()) {
        oldBitmap = platform::selectBitmap(systemContext, bitmap->getHandle());
    } else {
        pixmap = platform::createCompatibleBitmap(context ? context->getSystemContext() : nullptr,
                                                  width, height);
        ownsPixmap = pixmap != nullptr;
        if (pixmap) oldBitmap = platform::selectBitmap(systemContext, pixmap);
    }
    if (!drawInBitmap) {
        if (bitmap) {
            CRect all(0, 0, width, height);
            bitmap->draw(this, all, CPoint(0, 0));
        } else {
            setFillColor(kBlackCColor);
            fillRect(CRect(0, 0, width, height));
        }
    }
}

COffscreenContext::COffscreenContext(CFrame* frame, int32_t w, int32_t h, const CColor background)
    : CDrawContext(frame, nullptr, nullptr), height(h), width(w), ownsPixmap(true),
      backgroundColor(background) {
    clipRect = CRect(0, 0, width, height);
    platform::Window* win = frame ? frame->getSystemWindow() : nullptr;
    platform::Context* windowContext = win ? platform::getWindowContext(win) : nullptr;
    systemContext = platform::createContext(windowContext);
    pixmap = platform::createCompatibleBitmap(windowContext, width, height);
    if (systemContext && pixmap) oldBitmap = platform::selectBitmap(systemContext, pixmap);
    if (windowContext) platform::releaseWindowContext(win, windowContext);
    setFillColor(backgroundColor);
    setFrameColor(backgroundColor);
    fillRect(CRect(0, 0, width, height));
    drawRect(CRect(0, 0, width, height));
}

COffscreenContext::~COffscreenContext() {
    // The device context goes first; the base then deletes the pen, brush and font it made.
    if (systemContext) platform::deleteContext(systemContext);
    systemContext = nullptr;
    if (ownsPixmap && pixmap) platform::deleteBitmap(pixmap);
}

void COffscreenContext::copyFrom(CDrawContext* context, CRect destRect, CPoint srcOffset) {
    if (!context) return;
    platform::bitBlt(context->getSystemContext(), destRect.left + context->offset.x,
                     destRect.top + context->offset.y, destRect.width(), destRect.height(),
                     systemContext, srcOffset.x, srcOffset.y, platform::BlitOp::srcCopy);
}

void COffscreenContext::copyTo(CDrawContext* context, CRect& srcRect, CPoint destOffset) {
    if (!context) return;
    platform::bitBlt(systemContext, destOffset.x, destOffset.y, srcRect.width(), srcRect.height(),
                     context->getSystemContext(), srcRect.left + context->offset.x,
                     srcRect.top + context->offset.y, platform::BlitOp::srcCopy);
}

}  // namespace gui
