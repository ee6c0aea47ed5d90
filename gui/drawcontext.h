// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing surfaces: CDrawContext wraps one platform device context (a window's or any other the
// caller owns) with the toolkit's pen, brush and font state; COffscreenContext draws into an
// off-screen bitmap. All on the user-interface thread.
#pragma once

#include "gui/geometry.h"

#include "platform/raster.h"
#include "platform/window.h"

namespace gui {

class CFrame;
class CBitmap;

class CDrawContext {
public:
    // The device context and window are not owned; either may be null. A context with no device
    // context creates no pen, brush or font.
    CDrawContext(CFrame* frame, platform::Context* systemContext, platform::Window* window);
    virtual ~CDrawContext();
    CDrawContext(const CDrawContext&) = delete;
    CDrawContext& operator=(const CDrawContext&) = delete;

    void moveTo(const CPoint& p);
    void lineTo(const CPoint& p);  // the end pixel is not drawn
    void polyLine(const CPoint* points, int32_t count);
    void fillPolygon(const CPoint* points, int32_t count);
    void drawRect(const CRect& r);  // outline on all four edges
    void fillRect(const CRect& r);  // the interior of what drawRect outlines
    void drawEllipse(const CRect& r);
    void fillEllipse(const CRect& r);
    void drawArc(const CRect& r, const CPoint& from, const CPoint& to);
    void fillArc(const CRect& r, const CPoint& from, const CPoint& to);
    void drawPoint(const CPoint& p, CColor color);
    CColor getPoint(const CPoint& p);
    void floodFill(const CPoint& p);

    void setLineStyle(CLineStyle style);
    CLineStyle getLineStyle() const { return lineStyle; }
    void setLineWidth(int32_t width);
    int32_t getLineWidth() const { return lineWidth; }
    void setDrawMode(CDrawMode mode);
    CDrawMode getDrawMode() const { return drawMode; }
    void setClipRect(const CRect& clip);  // no offset applied
    CRect& getClipRect(CRect& clip) const {
        clip = clipRect;
        return clip;
    }
    void resetClipRect();
    void setFillColor(CColor color);
    CColor getFillColor() const { return fillColor; }
    void setFrameColor(CColor color);
    CColor getFrameColor() const { return frameColor; }
    void setFontColor(CColor color);
    CColor getFontColor() const { return fontColor; }
    void setFont(CFont font, int32_t size = 0, int32_t style = 0);
    CFont getFont() const { return fontId; }
    int32_t getFontSize() const { return fontSize; }
    int32_t getStringWidth(const char* text);
    void drawString(const char* text, const CRect& r, int16_t opaque = 0,
                    CHoriTxtAlign align = kAlignCenter);

    // Button and modifier state (kMouse*, kKey*), with swapped buttons taken into account. While
    // a press is being delivered, the state the window system recorded with it (a click may be
    // over before a host's idle delivers it); from the first idle step of a tracking loop on,
    // the live state. Nothing pressed once the frame is closed: every tracking loop ends.
    int32_t getMouseButtons();
    // The press's recorded state (platform kButton*/kMod* bits), answered until cleared.
    void setEventButtons(uint32_t platformState) {
        eventState = platformState;
        hasEventState = true;
    }
    void clearEventButtons() { hasEventState = false; }
    // Cursor position relative to screenOrigin.
    void getMouseLocation(CPoint& where);
    bool waitDoubleClick();
    bool waitDrag();

    platform::Context* getSystemContext() const { return systemContext; }
    platform::Window* getWindow() const { return window; }
    CFrame* getFrame() const { return frame; }

    // Containers move these while their children draw or handle events.
    CPoint offset;
    CPoint screenOrigin;

protected:
    void rebuildPen();
    // The window whose connection answers pointer queries: ours, or the frame's.
    platform::Window* pointerWindow() const;
    // Saturating: coordinates near the 32-bit limits must not overflow.
    static int32_t add(int32_t a, int32_t b) {
        const int64_t v = static_cast<int64_t>(a) + b;
        return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
    }
    platform::Point device(const CPoint& p) const {
        return platform::Point{add(p.x, offset.x), add(p.y, offset.y)};
    }
    platform::Rect device(int32_t l, int32_t t, int32_t r, int32_t b) const {
        return platform::Rect{add(l, offset.x), add(t, offset.y), add(r, offset.x),
                              add(b, offset.y)};
    }

    platform::Context* systemContext = nullptr;
    platform::Window* window = nullptr;
    CFrame* frame = nullptr;
    uint32_t eventState = 0;
    bool hasEventState = false;
    int32_t fontSize = 0;
    CFont fontId = kFontSystem;
    CColor fontColor = kWhiteCColor;
    int32_t lineWidth = 1;
    CColor frameColor = kWhiteCColor;
    CColor fillColor = kBlackCColor;
    CLineStyle lineStyle = kSolidLine;
    CDrawMode drawMode = kModeCopy;
    CRect clipRect;
    platform::Brush* brush = nullptr;
    platform::Pen* pen = nullptr;
    platform::Font* font = nullptr;
    platform::Brush* oldBrush = nullptr;
    platform::Pen* oldPen = nullptr;
    platform::Font* oldFont = nullptr;
    platform::PenStyle penStyle = platform::PenStyle::solid;
};

class COffscreenContext : public CDrawContext {
public:
    // A surface sized like bitmap (20 x 20 without one). drawInBitmap: draw into the bitmap
    // itself; otherwise into a copy that starts as the bitmap's image (black without one).
    COffscreenContext(CDrawContext* context, CBitmap* bitmap, bool drawInBitmap = false);
    // A blank surface compatible with the frame's window, painted backgroundColor.
    COffscreenContext(CFrame* frame, int32_t width, int32_t height,
                      const CColor backgroundColor = kBlackCColor);
    ~COffscreenContext() override;

    // Copies a destRect-sized block from srcOffset of this surface to destRect in context.
    void copyFrom(CDrawContext* context, CRect destRect, CPoint srcOffset = CPoint(0, 0));
    // Copies srcRect of context into this surface at destOffset.
    void copyTo(CDrawContext* context, CRect& srcRect, CPoint destOffset = CPoint(0, 0));

    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }
    platform::Bitmap* getBitmap() const { return platform::selectedBitmap(systemContext); }

protected:
    CBitmap* backgroundBitmap = nullptr;
    int32_t height = 0;
    int32_t width = 0;
    bool ownsPixmap = false;
    CColor backgroundColor = kBlackCColor;
    platform::Bitmap* oldBitmap = nullptr;
    platform::Bitmap* pixmap = nullptr;
};

}  // namespace gui
