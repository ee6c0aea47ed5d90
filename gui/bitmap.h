// SPDX-License-Identifier: GPL-3.0-or-later
// CBitmap: one platform bitmap shared by reference counting, loaded from the module's bitmap
// resources or created blank, copied opaque, with a transparent colour, or blended.
#pragma once

#include "gui/drawcontext.h"
#include "gui/geometry.h"

#include "platform/raster.h"

namespace gui {

class CFrame;

class CBitmap {
public:
    // Bitmap resource resourceId of this module; not loaded (0 x 0) when it is missing.
    explicit CBitmap(int32_t resourceId);
    // A blank bitmap compatible with the screen; contents undefined.
    CBitmap(CFrame& frame, int32_t width, int32_t height);
    ~CBitmap();
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    // rect: destination in the context's coordinates; offset: top-left source pixel. Unscaled.
    void draw(CDrawContext* context, CRect& rect, const CPoint& offset = CPoint(0, 0));
    void drawTransparent(CDrawContext* context, CRect& rect, const CPoint& offset = CPoint(0, 0));
    void drawAlphaBlend(CDrawContext* context, CRect& rect, const CPoint& offset = CPoint(0, 0),
                        unsigned char alpha = 128);

    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }
    bool isLoaded() const { return handle != nullptr; }
    platform::Bitmap* getHandle() const { return handle; }
    int32_t getResourceId() const { return resourceId; }

    void remember() { ++nbReference; }
    // Destroys the bitmap when the last reference goes; nothing when the count is already 0.
    void forget();
    int32_t getNbReference() const { return nbReference; }

    void setTransparentColor(const CColor color) { transparentColor = color; }
    CColor getTransparentColor() const { return transparentColor; }
    // Builds the mask from what context shows at the bitmap's size moved by offset.
    void setTransparencyMask(CDrawContext* context, const CPoint& offset = CPoint(0, 0));
    platform::Bitmap* getMask() const { return mask; }

private:
    int32_t resourceId = 0;
    int32_t nbReference = 1;
    int32_t width = 0;
    int32_t height = 0;
    CColor transparentColor = kTransparentCColor;
    platform::Bitmap* handle = nullptr;
    platform::Bitmap* mask = nullptr;
};

// A new monochrome bitmap (owned by the caller): 1 where context shows color inside rect (no
// offset applied), 0 elsewhere.
platform::Bitmap* CreateMaskBitmap(CDrawContext* context, CRect& rect, CColor color);
// Copies source (a context holding the bitmap) to rect, leaving pixels of color untouched: with
// the mask when given, else through pfnTransparentBlt, else with a mask built on the fly.
void DrawTransparent(CDrawContext* context, CRect& rect, const CPoint& offset,
                     platform::Context* source, platform::Bitmap* mask, platform::Color color);

// The optional platform operations, bound by a frame (null when unavailable). Process-wide.
extern bool (*pfnAlphaBlend)(platform::Context*, int32_t, int32_t, int32_t, int32_t,
                             platform::Context*, int32_t, int32_t, int32_t, int32_t, uint8_t);
extern bool (*pfnTransparentBlt)(platform::Context*, int32_t, int32_t, int32_t, int32_t,
                                 platform::Context*, int32_t, int32_t, int32_t, int32_t,
                                 platform::Color);

}  // namespace gui
