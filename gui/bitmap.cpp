// SPDX-License-Identifier: GPL-3.0-or-later
// CBitmap, the transparent copy in its three forms, and the mask builder.
#include "gui/bitmap.h"

namespace gui {

bool (*pfnAlphaBlend)(platform::Context*, int32_t, int32_t, int32_t, int32_t, platform::Context*,
                      int32_t, int32_t, int32_t, int32_t, uint8_t) = nullptr;
bool (*pfnTransparentBlt)(platform::Context*, int32_t, int32_t, int32_t, int32_t,
                          platform::Context*, int32_t, int32_t, int32_t, int32_t,
                          platform::Color) = nullptr;

namespace {
constexpr platform::Color kWhite = 0xFFFFFF;
constexpr platform::Color kBlack = 0x000000;

// A temporary context holding bitmap, handed back clean by the destructor.
struct Holder {
    Holder(platform::Context* compatible, platform::Bitmap* bitmap)
        : context(platform::createContext(compatible)) {
        if (context && bitmap) old = platform::selectBitmap(context, bitmap);
    }
    ~Holder() {
        if (context && old) platform::selectBitmap(context, old);
        platform::deleteContext(context);
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    platform::Context* context;
    platform::Bitmap* old = nullptr;
};
}  // namespace

CBitmap::CBitmap(int32_t id)
    : resourceId(id), handle(platform::loadBitmapResource(platform::thisModule(), id & 0xFFFF)) {
    if (handle) {
        width = platform::bitmapWidth(handle);
        height = platform::bitmapHeight(handle);
    }
}

CBitmap::CBitmap(CFrame& /*frame*/, int32_t w, int32_t h)
    : handle(platform::createCompatibleBitmap(nullptr, w, h)) {
    if (handle) {
        width = w;
        height = h;
    }
}

CBitmap::~CBitmap() {
    platform::deleteBitmap(handle);
    platform::deleteBitmap(mask);
}

void CBitmap::forget() {
    if (nbReference <= 0) return;
    if (--nbReference == 0) delete this;
}

void CBitmap::draw(CDrawContext* context, CRect& rect, const CPoint& offset) {
    if (!handle || !context) return;
    Holder src(context->getSystemContext(), handle);
    platform::bitBlt(context->getSystemContext(), rect.left + context->offset.x,
                     rect.top + context->offset.y, rect.width(), rect.height(), src.context,
                     offset.x, offset.y, platform::BlitOp::srcCopy);
}

void CBitmap::drawAlphaBlend(CDrawContext* context, CRect& rect, const CPoint& offset,
                             unsigned char alpha) {
    if (!handle || !context || !pfnAlphaBlend) return;
    Holder src(context->getSystemContext(), handle);
    pfnAlphaBlend(context->getSystemContext(), rect.left + context->offset.x,
                  rect.top + context->offset.y, rect.width(), rect.height(), src.context, offset.x,
                  offset.y, rect.width(), rect.height(), alpha);
}

void CBitmap::drawTransparent(CDrawContext* context, CRect& rect, const CPoint& offset) {
    // A bitmap that failed to load has nothing to show.
    if (!context || !handle) return;
    Holder src(context->getSystemContext(), handle);
    DrawTransparent(context, rect, offset, src.context, mask, transparentColor.packed());
}

void CBitmap::setTransparencyMask(CDrawContext* context, const CPoint& offset) {
    platform::deleteBitmap(mask);
    mask = nullptr;
    CRect r(0, 0, width, height);
    r.offset(offset.x, offset.y);
    mask = CreateMaskBitmap(context, r, transparentColor);
}

platform::Bitmap* CreateMaskBitmap(CDrawContext* context, CRect& rect, CColor color) {
    if (!context) return nullptr;
    platform::Context* dc = context->getSystemContext();
    platform::Bitmap* maskBitmap = platform::createMonoBitmap(rect.width(), rect.height());
    if (!maskBitmap) return nullptr;
    {
        Holder temp(dc, maskBitmap);
        const platform::Color old = platform::setBkColor(dc, color.packed());
        platform::bitBlt(temp.context, 0, 0, rect.width(), rect.height(), dc, rect.left, rect.top,
                         platform::BlitOp::srcCopy);
        platform::setBkColor(dc, old);
    }
    return maskBitmap;
}

void DrawTransparent(CDrawContext* context, CRect& rect, const CPoint& offset,
                     platform::Context* source, platform::Bitmap* mask, platform::Color color) {
    if (!context || !source) return;
    platform::Context* dc = context->getSystemContext();
    const int32_t x = rect.left + context->offset.x, y = rect.top + context->offset.y;
    const int32_t w = rect.width(), h = rect.height();
    if (w <= 0 || h <= 0) return;
    if (mask) {
        // Composed in a work bitmap so that the destination is written once, without flicker.
        platform::Bitmap* work = platform::createCompatibleBitmap(dc, w, h);
        if (!work) return;
        {
            Holder maskHolder(dc, mask);
            Holder workHolder(dc, work);
            platform::bitBlt(workHolder.context, 0, 0, w, h, dc, x, y, platform::BlitOp::srcCopy);
            platform::bitBlt(workHolder.context, 0, 0, w, h, source, offset.x, offset.y,
                             platform::BlitOp::srcInvert);
            platform::bitBlt(workHolder.context, 0, 0, w, h, maskHolder.context, offset.x, offset.y,
                             platform::BlitOp::srcAnd);
            platform::bitBlt(workHolder.context, 0, 0, w, h, source, offset.x, offset.y,
                             platform::BlitOp::srcInvert);
            platform::bitBlt(dc, x, y, w, h, workHolder.context, 0, 0, platform::BlitOp::srcCopy);
        }
        platform::deleteBitmap(work);
        return;
    }
    if (pfnTransparentBlt) {
        pfnTransparentBlt(dc, x, y, w, h, source, offset.x, offset.y, w, h, color);
        return;
    }
    platform::Bitmap* monochrome = platform::createMonoBitmap(w, h);
    if (!monochrome) return;
    {
        Holder maskHolder(dc, monochrome);
        const platform::Color oldBk = platform::setBkColor(dc, kWhite);
        const platform::Color oldText = platform::setTextColor(dc, kBlack);
        const platform::Color oldSourceBk = platform::setBkColor(source, color);
        platform::bitBlt(maskHolder.context, 0, 0, w, h, source, offset.x, offset.y,
                         platform::BlitOp::srcCopy);
        platform::setBkColor(source, oldSourceBk);
        platform::bitBlt(dc, x, y, w, h, source, offset.x, offset.y, platform::BlitOp::srcInvert);
        platform::bitBlt(dc, x, y, w, h, maskHolder.context, 0, 0, platform::BlitOp::srcAnd);
        platform::bitBlt(dc, x, y, w, h, source, offset.x, offset.y, platform::BlitOp::srcInvert);
        platform::setBkColor(dc, oldBk);
        platform::setTextColor(dc, oldText);
    }
    platform::deleteBitmap(monochrome);
}

}  // namespace gui
