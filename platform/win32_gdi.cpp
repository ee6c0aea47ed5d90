// SPDX-License-Identifier: GPL-3.0-or-later
// The raster on GDI: each call is the GDI call of the same name, with the argument checks the
// interface promises (null handles, absurd sizes and coordinates) done here first. Colour bitmaps
// are top-down 32-bit DIB sections, so their pixels can be handed out; monochrome ones are
// 1-bit device-dependent bitmaps, whose conversions to and from colour are GDI's own.
//
// At a scale above 1 (a window's, or a bitmap made at it) coordinates are design units and are
// mapped here by hand, as the cairo raster maps them: fills and boxes become exact blocks, wide
// pens, shape interiors and text are drawn by GDI at the larger size. One-pixel pens keep their
// 1x pixels, each laid as a block: GDI draws the stroke at 1x into a scratch bitmap and every
// pixel it set becomes scale x scale device pixels. A world transform would do the first part,
// but GDI draws cosmetic pens one device pixel wide whatever the transform.
#include "bitmap_selection.h"
#include "utf8.h"
#include "win32_internal.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace platform {

namespace {

constexpr uint32_t kRgbMask = 0x00FFFFFFu;
// GDI's own coordinate space is narrower than 32 bits (and Wine's arithmetic overflows near the
// ends of it). Shapes are pulled into this range; the visible part of anything that large is not
// meaningful.
constexpr int32_t kCoordLimit = 1 << 16;

bool sizeOk(int32_t w, int32_t h) {
    return w > 0 && h > 0 && w <= kMaxBitmapSide && h <= kMaxBitmapSide;
}

int32_t clampCoord(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, -kCoordLimit, kCoordLimit + kMaxBitmapSide));
}
POINT toPoint(Point p) { return {clampCoord(p.x), clampCoord(p.y)}; }
RECT toRect(const Rect& r) {
    return {clampCoord(r.left), clampCoord(r.top), clampCoord(r.right), clampCoord(r.bottom)};
}

bool valid(const Context* c) { return c && c->dc; }

int32_t scaleOf(const Context* c) {
    if (!c) return 1;
    return c->bitmap ? c->bitmap->scale : c->windowScale;
}

// Design units to device pixels, pulled into GDI's range like any coordinate.
int32_t up(int64_t v, int32_t s) { return clampCoord(v * s); }
POINT up(Point p, int32_t s) { return {up(p.x, s), up(p.y, s)}; }
RECT up(const Rect& r, int32_t s) {
    return {up(r.left, s), up(r.top, s), up(r.right, s), up(r.bottom, s)};
}
int64_t floorDiv(int64_t v, int32_t s) { return v >= 0 ? v / s : -((-v + s - 1) / s); }
int64_t ceilDiv(int64_t v, int32_t s) { return -floorDiv(-v, s); }

HPEN penOf(Pen* p) { return reinterpret_cast<HPEN>(p); }
HBRUSH brushOf(Brush* b) { return reinterpret_cast<HBRUSH>(b); }
HFONT fontOf(Font* f) { return reinterpret_cast<HFONT>(f); }

// The bitmap's damage grows by r (device coordinates), cut to the bitmap. Window contexts keep
// none: the window system tracks what reaches the screen.
void touch(Context* c, int64_t l, int64_t t, int64_t r, int64_t b) {
    Bitmap* bm = c ? c->bitmap : nullptr;
    if (!bm || bm == &c->stockBitmap) return;
    const Rect cut{static_cast<int32_t>(std::clamp<int64_t>(l, 0, bm->width)),
                   static_cast<int32_t>(std::clamp<int64_t>(t, 0, bm->height)),
                   static_cast<int32_t>(std::clamp<int64_t>(r, 0, bm->width)),
                   static_cast<int32_t>(std::clamp<int64_t>(b, 0, bm->height))};
    if (cut.left >= cut.right || cut.top >= cut.bottom) return;
    Rect& d = bm->damage;
    if (d.left >= d.right || d.top >= d.bottom) {
        d = cut;
        return;
    }
    d = {std::min(d.left, cut.left), std::min(d.top, cut.top), std::max(d.right, cut.right),
         std::max(d.bottom, cut.bottom)};
}

// The current pen's reach beyond the geometry it strokes.
int32_t penReach(Context* c) {
    LOGPEN lp{};
    HGDIOBJ pen = GetCurrentObject(c->dc, OBJ_PEN);
    if (GetObjectA(pen, sizeof lp, &lp) == sizeof lp) return lp.lopnWidth.x / 2 + 2;
    EXTLOGPEN ep{};
    if (GetObjectA(pen, sizeof ep, &ep) > 0) return static_cast<int32_t>(ep.elpWidth / 2 + 2);
    return 2;
}

void touchPoints(Context* c, const POINT* pts, int32_t n, int32_t reach) {
    if (n <= 0) return;
    int64_t l = pts[0].x, t = pts[0].y, r = l, b = t;
    for (int32_t i = 1; i < n; ++i) {
        l = std::min<int64_t>(l, pts[i].x);
        t = std::min<int64_t>(t, pts[i].y);
        r = std::max<int64_t>(r, pts[i].x);
        b = std::max<int64_t>(b, pts[i].y);
    }
    touch(c, l - reach, t - reach, r + reach + 1, b + reach + 1);
}

void freeBitmap(Bitmap* b) {
    DeleteObject(b->handle);
    delete b;
}

}  // namespace

Bitmap* newDibSection(int32_t width, int32_t height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down: row 0 first, like every other bitmap here
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP h = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!h) return nullptr;
    auto* b = new (std::nothrow) Bitmap;
    if (!b) {
        DeleteObject(h);
        return nullptr;
    }
    b->handle = h;
    b->width = width;
    b->height = height;
    b->bits = static_cast<uint32_t*>(bits);
    return b;
}

// ---- Bitmaps ---------------------------------------------------------------------------------

Bitmap* createBitmap(int32_t width, int32_t height) {
    if (!sizeOk(width, height)) return nullptr;
    return newDibSection(width, height);  // the system hands out DIB sections zeroed: black
}

Bitmap* createScaledBitmap(int32_t width, int32_t height, int32_t scale) {
    if (scale < 1 || scale > kMaxScale || !sizeOk(width, height) ||
        width > kMaxBitmapSide / scale || height > kMaxBitmapSide / scale)
        return nullptr;
    Bitmap* b = newDibSection(width * scale, height * scale);
    if (b) b->scale = scale;
    return b;
}

Bitmap* createMonoBitmap(int32_t width, int32_t height) {
    if (!sizeOk(width, height)) return nullptr;
    // CreateBitmap leaves the contents undefined without bits: hand it zeroed ones.
    std::vector<uint8_t> zeros;
    try {
        zeros.assign(static_cast<size_t>((width + 15) / 16) * 2 * height, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    HBITMAP h = CreateBitmap(width, height, 1, 1, zeros.data());
    if (!h) return nullptr;
    auto* b = new (std::nothrow) Bitmap;
    if (!b) {
        DeleteObject(h);
        return nullptr;
    }
    b->handle = h;
    b->width = width;
    b->height = height;
    b->mono = true;
    return b;
}

Bitmap* createCompatibleBitmap(Context* context, int32_t width, int32_t height) {
    if (context && context->bitmap && context->bitmap->mono) return createMonoBitmap(width, height);
    // At the context's scale: what is drawn into it keeps its resolution when copied back.
    return createScaledBitmap(width, height, scaleOf(context));
}

void deleteBitmap(Bitmap* bitmap) {
    // A window's image also waits for the last context drawing on it.
    if (bitmap && selection::mayFreeNow(bitmap, bitmap->windowContexts > 0)) freeBitmap(bitmap);
}

int32_t bitmapWidth(const Bitmap* bitmap) { return bitmap ? bitmap->width / bitmap->scale : 0; }
int32_t bitmapHeight(const Bitmap* bitmap) { return bitmap ? bitmap->height / bitmap->scale : 0; }
bool bitmapIsMono(const Bitmap* bitmap) { return bitmap && bitmap->mono; }

uint32_t* bitmapPixels(Bitmap* bitmap, int32_t* stride) {
    if (!bitmap || bitmap->mono || !bitmap->bits) return nullptr;
    GdiFlush();  // GDI may still be drawing into the section
    if (stride) *stride = bitmap->width;
    return bitmap->bits;
}

Rect takeDamage(Bitmap* bitmap) {
    if (!bitmap) return {};
    const Rect r = bitmap->damage;
    bitmap->damage = {};
    return r;
}

// ---- Contexts --------------------------------------------------------------------------------

namespace {
// What every fresh context starts with beyond GDI's own defaults.
void initialState(HDC dc) {
    SetStretchBltMode(dc, COLORONCOLOR);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    SetPolyFillMode(dc, ALTERNATE);
    SetArcDirection(dc, AD_COUNTERCLOCKWISE);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
}

Font* stockFont();
}  // namespace

Context* createContext(Context* compatible) {
    HDC dc = CreateCompatibleDC(valid(compatible) ? compatible->dc : nullptr);
    if (!dc) return nullptr;
    auto* c = new (std::nothrow) Context;
    if (!c) {
        DeleteDC(dc);
        return nullptr;
    }
    c->dc = dc;
    initialState(dc);
    if (Font* f = stockFont()) SelectObject(dc, fontOf(f));
    c->stockBitmap.handle = static_cast<HBITMAP>(GetCurrentObject(dc, OBJ_BITMAP));
    c->stockBitmap.width = c->stockBitmap.height = 1;
    c->stockBitmap.mono = true;
    c->stockBitmap.selectedBy = c;
    c->bitmap = &c->stockBitmap;
    return c;
}

Context* createWindowContext(Bitmap* image) {
    if (!image || image->mono || image->selectedBy) return nullptr;
    if (!image->windowDC) {
        image->windowDC = CreateCompatibleDC(nullptr);
        if (!image->windowDC) return nullptr;
        SelectObject(image->windowDC, image->handle);
    }
    Context* c = wrapForeignContext(image->windowDC, nullptr);
    if (!c) {
        if (image->windowContexts == 0) {
            DeleteDC(image->windowDC);
            image->windowDC = nullptr;
        }
        return nullptr;
    }
    c->windowImage = image;
    c->bitmap = image;
    ++image->windowContexts;
    return c;
}

void deleteContext(Context* context) {
    if (!context) return;
    if (Bitmap* image = context->windowImage) {
        // The last context on a window's image lets its device context go.
        delete context;
        if (--image->windowContexts == 0) {
            DeleteDC(image->windowDC);
            image->windowDC = nullptr;
            if (image->deletePending) freeBitmap(image);
        }
        return;
    }
    if (context->window) return;  // window contexts go back to their window
    if (context->bitmap != &context->stockBitmap)
        SelectObject(context->dc, context->stockBitmap.handle);
    DeleteDC(context->dc);
    selection::release(context, &context->stockBitmap, freeBitmap);
    delete context;
}

Context* wrapForeignContext(HDC dc, HWND window, int32_t scale) {
    if (!dc) return nullptr;
    auto* c = new (std::nothrow) Context;
    if (!c) return nullptr;
    c->dc = dc;
    c->window = window;
    c->windowScale = std::clamp(scale, 1, kMaxScale);
    initialState(dc);
    if (Font* f = stockFont()) SelectObject(dc, fontOf(f));
    SetBkMode(dc, OPAQUE);
    SetROP2(dc, R2_COPYPEN);
    return c;
}

void releaseForeignContext(Context* context) { delete context; }

Bitmap* selectBitmap(Context* context, Bitmap* bitmap) {
    if (!valid(context) || !bitmap || context->window || context->windowImage) return nullptr;
    if (bitmap->windowContexts > 0 || !selection::maySelect(context, bitmap)) return nullptr;
    if (context->bitmap == bitmap) return bitmap;
    if (!SelectObject(context->dc, bitmap->handle)) return nullptr;
    return selection::swap(context, bitmap, &context->stockBitmap, freeBitmap);
}

Bitmap* selectedBitmap(Context* context) { return context ? context->bitmap : nullptr; }

Pen* createPen(const PenDesc& desc) {
    const COLORREF color = desc.color & kRgbMask;
    const int style = desc.style == PenStyle::null     ? PS_NULL
                      : desc.style == PenStyle::dotted ? PS_DOT
                                                       : PS_SOLID;
    const int width = std::clamp(desc.width, 0, 4 * kMaxBitmapSide);
    HPEN pen = nullptr;
    if (desc.geometric && desc.style != PenStyle::null) {
        const DWORD cap = desc.cap == LineCap::flat     ? PS_ENDCAP_FLAT
                          : desc.cap == LineCap::square ? PS_ENDCAP_SQUARE
                                                        : PS_ENDCAP_ROUND;
        const DWORD join = desc.join == LineJoin::bevel   ? PS_JOIN_BEVEL
                           : desc.join == LineJoin::miter ? PS_JOIN_MITER
                                                          : PS_JOIN_ROUND;
        LOGBRUSH lb{BS_SOLID, color, 0};
        pen = ExtCreatePen(PS_GEOMETRIC | static_cast<DWORD>(style) | cap | join,
                           static_cast<DWORD>(std::max(width, 1)), &lb, 0, nullptr);
    } else {
        pen = CreatePen(style, width <= 1 ? 0 : width, color);
    }
    return reinterpret_cast<Pen*>(pen);
}
Pen* stockNullPen() { return reinterpret_cast<Pen*>(GetStockObject(NULL_PEN)); }
void deletePen(Pen* pen) {
    if (pen) DeleteObject(penOf(pen));  // stock objects ignore it
}
Pen* selectPen(Context* context, Pen* pen) {
    if (!valid(context) || !pen) return nullptr;
    return reinterpret_cast<Pen*>(SelectObject(context->dc, penOf(pen)));
}

Brush* createSolidBrush(Color color) {
    return reinterpret_cast<Brush*>(CreateSolidBrush(color & kRgbMask));
}
Brush* stockNullBrush() { return reinterpret_cast<Brush*>(GetStockObject(NULL_BRUSH)); }
void deleteBrush(Brush* brush) {
    if (brush) DeleteObject(brushOf(brush));
}
Brush* selectBrush(Context* context, Brush* brush) {
    if (!valid(context) || !brush) return nullptr;
    return reinterpret_cast<Brush*>(SelectObject(context->dc, brushOf(brush)));
}

namespace {
Font* stockFont() {
    // The system font the toolkit expects of a fresh context: bold Arial of 12 pixels.
    static HFONT font =
        CreateFontA(-12, 0, 0, 0, 700, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_STRING_PRECIS,
                    CLIP_STROKE_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, "Arial");
    return reinterpret_cast<Font*>(font);
}
}  // namespace

Font* createFont(const FontDesc& desc) {
    char face[LF_FACESIZE] = "Arial";
    if (desc.face && *desc.face) std::snprintf(face, sizeof face, "%s", desc.face);
    int height = desc.height == 0 ? -12 : std::clamp(desc.height, -2048, 2048);
    return reinterpret_cast<Font*>(CreateFontA(height, 0, 0, 0, std::clamp(desc.weight, 0, 1000),
                                               desc.italic, desc.underline, FALSE, ANSI_CHARSET,
                                               OUT_STRING_PRECIS, CLIP_STROKE_PRECIS,
                                               DEFAULT_QUALITY, desc.pitchAndFamily, face));
}
void deleteFont(Font* font) {
    if (font && font != stockFont()) DeleteObject(fontOf(font));
}
Font* selectFont(Context* context, Font* font) {
    if (!valid(context) || !font) return nullptr;
    return reinterpret_cast<Font*>(SelectObject(context->dc, fontOf(font)));
}

Pen* selectedPen(Context* c) {
    return valid(c) ? reinterpret_cast<Pen*>(GetCurrentObject(c->dc, OBJ_PEN)) : nullptr;
}
Brush* selectedBrush(Context* c) {
    return valid(c) ? reinterpret_cast<Brush*>(GetCurrentObject(c->dc, OBJ_BRUSH)) : nullptr;
}
Font* selectedFont(Context* c) {
    return valid(c) ? reinterpret_cast<Font*>(GetCurrentObject(c->dc, OBJ_FONT)) : nullptr;
}

Color setTextColor(Context* c, Color color) {
    return valid(c) ? SetTextColor(c->dc, color & kRgbMask) : kInvalidColor;
}
Color setBkColor(Context* c, Color color) {
    return valid(c) ? SetBkColor(c->dc, color & kRgbMask) : kInvalidColor;
}
Color getBkColor(Context* c) { return valid(c) ? GetBkColor(c->dc) : kInvalidColor; }
Color getTextColor(Context* c) { return valid(c) ? GetTextColor(c->dc) : kInvalidColor; }
BkMode setBkMode(Context* c, BkMode mode) {
    if (!valid(c)) return BkMode::transparent;
    const int old = SetBkMode(c->dc, mode == BkMode::opaque ? OPAQUE : TRANSPARENT);
    return old == OPAQUE ? BkMode::opaque : BkMode::transparent;
}
Rop2 setRop2(Context* c, Rop2 mode) {
    if (!valid(c)) return Rop2::copyPen;
    const int old = SetROP2(c->dc, mode == Rop2::mergePen    ? R2_MERGEPEN
                                   : mode == Rop2::notXorPen ? R2_NOTXORPEN
                                                             : R2_COPYPEN);
    return old == R2_MERGEPEN    ? Rop2::mergePen
           : old == R2_NOTXORPEN ? Rop2::notXorPen
                                 : Rop2::copyPen;
}
StretchMode setStretchMode(Context* c, StretchMode mode) {
    if (!valid(c)) return StretchMode::colorOnColor;
    const int old =
        SetStretchBltMode(c->dc, mode == StretchMode::halftone ? HALFTONE : COLORONCOLOR);
    // Halftone reads the brush origin; it has to be set again after switching.
    if (mode == StretchMode::halftone) SetBrushOrgEx(c->dc, 0, 0, nullptr);
    return old == HALFTONE ? StretchMode::halftone : StretchMode::colorOnColor;
}
void setClipRect(Context* c, const Rect* clip) {
    if (!valid(c)) return;
    if (!clip) {
        SelectClipRgn(c->dc, nullptr);
        return;
    }
    const RECT r = up(*clip, scaleOf(c));
    HRGN region =
        CreateRectRgn(r.left, r.top, std::max(r.left, r.right), std::max(r.top, r.bottom));
    SelectClipRgn(c->dc, region);  // the context keeps a copy
    DeleteObject(region);
}

// ---- Drawing at a larger scale ---------------------------------------------------------------

namespace {

// The current pen as the scaled paths need it.
struct PenInfo {
    bool extended = false;  // made by ExtCreatePen
    DWORD style = PS_SOLID;
    int32_t width = 0;
    COLORREF color = 0;
    bool null() const { return (style & PS_STYLE_MASK) == PS_NULL; }
    bool thin() const { return width <= 1; }
};

PenInfo penInfo(HDC dc) {
    PenInfo p;
    HGDIOBJ pen = GetCurrentObject(dc, OBJ_PEN);
    if (GetObjectType(pen) == OBJ_EXTPEN) {
        EXTLOGPEN ep{};
        if (GetObjectA(pen, sizeof ep, &ep) > 0) {
            p.extended = true;
            p.style = ep.elpPenStyle;
            p.width = static_cast<int32_t>(std::min<DWORD>(ep.elpWidth, INT32_MAX));
            p.color = ep.elpColor;
        }
        return p;
    }
    LOGPEN lp{};
    if (GetObjectA(pen, sizeof lp, &lp) == sizeof lp) {
        p.style = lp.lopnStyle;
        p.width = lp.lopnWidth.x;
        p.color = lp.lopnColor;
    }
    return p;
}

// The pen again, width times factor, in another colour.
HPEN penLike(const PenInfo& p, int32_t factor, COLORREF color) {
    const int64_t width = std::min<int64_t>(int64_t(std::max(p.width, 1)) * factor,
                                            4 * int64_t(kMaxBitmapSide) * kMaxScale);
    if (p.extended) {
        LOGBRUSH lb{BS_SOLID, color, 0};
        return ExtCreatePen(p.style, static_cast<DWORD>(width), &lb, 0, nullptr);
    }
    return CreatePen(static_cast<int>(p.style),
                     p.width <= 1 && factor == 1 ? p.width : static_cast<int>(width), color);
}

// A segment cut to [lo, hi) each way, keeping its direction; false when nothing is left.
bool clipSegmentTo(Point a, Point b, double lox, double loy, double hix, double hiy, POINT* out) {
    double x0 = a.x, y0 = a.y, x1 = b.x, y1 = b.y;
    double t0 = 0, t1 = 1;
    const double dx = x1 - x0, dy = y1 - y0;
    auto edge = [&](double p, double q) {
        if (p == 0) return q >= 0;
        const double t = q / p;
        if (p < 0) {
            if (t > t1) return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return false;
            t1 = std::min(t1, t);
        }
        return true;
    };
    if (!edge(-dx, x0 - lox) || !edge(dx, hix - x0) || !edge(-dy, y0 - loy) || !edge(dy, hiy - y0))
        return false;
    out[0] = {static_cast<LONG>(std::lround(x0 + t0 * dx)),
              static_cast<LONG>(std::lround(y0 + t0 * dy))};
    out[1] = {static_cast<LONG>(std::lround(x0 + t1 * dx)),
              static_cast<LONG>(std::lround(y0 + t1 * dy))};
    return true;
}

// What the scratch bitmap's pixels say: untouched, the pen's ink, or an opaque gap of a dotted pen.
constexpr COLORREF kInkMark = RGB(255, 255, 255);
constexpr COLORREF kGapMark = RGB(0, 0, 255);
constexpr uint32_t kInkPixel = 0xFFFFFF, kGapPixel = 0x0000FF;  // the same in the DIB's words

// The design units where drawing may show: the clip box's (device pixels) covering units.
struct Area {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
};
bool designClip(Context* c, int32_t s, Area* out) {
    RECT box{};
    if (GetClipBox(c->dc, &box) == ERROR || box.left >= box.right || box.top >= box.bottom)
        return false;
    *out = {floorDiv(box.left, s), floorDiv(box.top, s), ceilDiv(box.right, s),
            ceilDiv(box.bottom, s)};
    return true;
}

// A one-pixel stroke at scale s: draw(dc) strokes it in design units on a 1x scratch bitmap that
// covers [l, r) x [t, b) (cut to the clip), with a copy of the pen, the arc direction and the
// background mode; every pixel it sets is then laid on the context as an s x s block of the pen's
// colour (or the background colour, for a dotted pen's gaps) through the context's draw mode.
template <typename Draw>
void thinStroke(Context* c, int32_t s, const PenInfo& pen, int64_t l, int64_t t, int64_t r,
                int64_t b, Draw draw) {
    if (pen.null()) return;
    Area area;
    if (!designClip(c, s, &area)) return;
    // Two units of room: pens step past their geometry at the ends and corners.
    const int64_t x0 = std::max(l - 2, area.left), y0 = std::max(t - 2, area.top);
    const int64_t x1 = std::min(r + 2, area.right), y1 = std::min(b + 2, area.bottom);
    if (x0 >= x1 || y0 >= y1 || x1 - x0 > kMaxBitmapSide || y1 - y0 > kMaxBitmapSide) return;
    const int32_t w = static_cast<int32_t>(x1 - x0), h = static_cast<int32_t>(y1 - y0);
    Bitmap* scratch = newDibSection(w, h);
    HDC sdc = scratch ? CreateCompatibleDC(nullptr) : nullptr;
    HPEN mark = sdc ? penLike(pen, 1, kInkMark) : nullptr;
    if (!mark) {
        if (sdc) DeleteDC(sdc);
        if (scratch) freeBitmap(scratch);
        return;
    }
    HGDIOBJ oldBitmap = SelectObject(sdc, scratch->handle);
    SetWindowOrgEx(sdc, static_cast<int>(x0), static_cast<int>(y0), nullptr);
    SetArcDirection(sdc, GetArcDirection(c->dc));
    SetBkMode(sdc, GetBkMode(c->dc));
    SetBkColor(sdc, kGapMark);
    SetROP2(sdc, R2_COPYPEN);
    HGDIOBJ oldPen = SelectObject(sdc, mark);
    HGDIOBJ oldBrush = SelectObject(sdc, GetStockObject(NULL_BRUSH));
    draw(sdc);
    GdiFlush();

    const int rop2 = GetROP2(c->dc);
    const DWORD rop3 = rop2 == R2_MERGEPEN    ? 0x00FA0089  // destination or pattern
                       : rop2 == R2_NOTXORPEN ? 0x00A50065  // not (pattern xor destination)
                                              : PATCOPY;
    HBRUSH brushes[2] = {CreateSolidBrush(pen.color & kRgbMask),
                         CreateSolidBrush(GetBkColor(c->dc) & kRgbMask)};
    HGDIOBJ oldTarget = GetCurrentObject(c->dc, OBJ_BRUSH);
    // Runs of one kind in a row; a run the next row repeats grows downwards instead.
    struct Run {
        int32_t from, to, top;
        int kind;
    };
    std::vector<Run> open, next;
    std::vector<bool> kept;
    int64_t tl = INT64_MAX, tt = INT64_MAX, tr = INT64_MIN, tb = INT64_MIN;
    auto lay = [&](const Run& run, int32_t bottom) {
        if (!brushes[run.kind]) return;
        const int64_t dl = (x0 + run.from) * s, dt = (y0 + run.top) * s;
        const int64_t dr = (x0 + run.to) * s, db = (y0 + bottom) * s;
        SelectObject(c->dc, brushes[run.kind]);
        PatBlt(c->dc, static_cast<int>(dl), static_cast<int>(dt), static_cast<int>(dr - dl),
               static_cast<int>(db - dt), rop3);
        tl = std::min(tl, dl);
        tt = std::min(tt, dt);
        tr = std::max(tr, dr);
        tb = std::max(tb, db);
    };
    for (int32_t y = 0; y <= h; ++y) {
        next.clear();
        if (y < h) {
            const uint32_t* row = scratch->bits + static_cast<size_t>(y) * w;
            for (int32_t x = 0; x < w;) {
                const uint32_t v = row[x] & kRgbMask;
                const int kind = v == kInkPixel ? 0 : v == kGapPixel ? 1 : -1;
                int32_t end = x + 1;
                while (end < w && (row[end] & kRgbMask) == v) ++end;
                if (kind >= 0) next.push_back({x, end, y, kind});
                x = end;
            }
        }
        kept.assign(open.size(), false);
        for (Run& n : next)
            for (size_t i = 0; i < open.size(); ++i)
                if (!kept[i] && open[i].from == n.from && open[i].to == n.to &&
                    open[i].kind == n.kind) {
                    n.top = open[i].top;
                    kept[i] = true;
                    break;
                }
        for (size_t i = 0; i < open.size(); ++i)
            if (!kept[i]) lay(open[i], y);
        open.swap(next);
    }
    SelectObject(c->dc, oldTarget);
    for (HBRUSH br : brushes)
        if (br) DeleteObject(br);
    if (tl < tr) touch(c, tl, tt, tr, tb);

    SelectObject(sdc, oldBrush);
    SelectObject(sdc, oldPen);
    SelectObject(sdc, oldBitmap);
    DeleteObject(mark);
    DeleteDC(sdc);
    freeBitmap(scratch);
}

// A shape at scale s: shape(dc, k) draws it with every coordinate times k. A wide pen strokes it
// at the larger size together with its interior; a one-pixel pen's outline is laid in blocks over
// the interior (filled at the larger size when filled and the brush is not the null brush).
// [l, r) x [t, b): where the shape lies, in design units.
template <typename Shape>
void scaledShape(Context* c, int32_t s, bool filled, int64_t l, int64_t t, int64_t r, int64_t b,
                 Shape shape) {
    const PenInfo pen = penInfo(c->dc);
    if (!pen.thin() && !pen.null()) {
        HPEN wide = penLike(pen, s, pen.color);
        if (!wide) return;
        HGDIOBJ old = SelectObject(c->dc, wide);
        shape(c->dc, s);
        const int32_t reach = penReach(c);
        SelectObject(c->dc, old);
        DeleteObject(wide);
        touch(c, l * s - reach, t * s - reach, r * s + reach + 1, b * s + reach + 1);
        return;
    }
    if (filled && GetCurrentObject(c->dc, OBJ_BRUSH) != GetStockObject(NULL_BRUSH)) {
        HGDIOBJ old = SelectObject(c->dc, GetStockObject(NULL_PEN));
        shape(c->dc, s);
        SelectObject(c->dc, old);
        touch(c, l * s, t * s, r * s + 1, b * s + 1);
    }
    thinStroke(c, s, pen, l, t, r, b, [&](HDC dc) { shape(dc, 1); });
}

// The bounding box of points (design units), right and bottom inclusive of the last one.
Area boundsOf(const Point* pts, int32_t n) {
    Area a{pts[0].x, pts[0].y, pts[0].x + 1, pts[0].y + 1};
    for (int32_t i = 1; i < n; ++i) {
        a.left = std::min<int64_t>(a.left, pts[i].x);
        a.top = std::min<int64_t>(a.top, pts[i].y);
        a.right = std::max<int64_t>(a.right, int64_t(pts[i].x) + 1);
        a.bottom = std::max<int64_t>(a.bottom, int64_t(pts[i].y) + 1);
    }
    return a;
}

// Points within GDI's reach, times k.
std::vector<POINT> scaledPoints(const Point* pts, int32_t n, int32_t k) {
    std::vector<POINT> out(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) out[static_cast<size_t>(i)] = up(pts[i], k);
    return out;
}

// A design box at scale k, either corner order kept.
RECT boxAt(const Rect& box, int32_t k) { return up(box, k); }

Area areaOfBox(const Rect& box) {
    return {std::min<int64_t>(box.left, box.right), std::min<int64_t>(box.top, box.bottom),
            std::max<int64_t>(box.left, box.right) + 1, std::max<int64_t>(box.top, box.bottom) + 1};
}

}  // namespace

// ---- Drawing ---------------------------------------------------------------------------------

void moveTo(Context* c, Point p) {
    if (!valid(c)) return;
    const POINT q = up(p, scaleOf(c));
    MoveToEx(c->dc, q.x, q.y, nullptr);
    c->current = p;
}
Point currentPosition(Context* c) {
    if (valid(c) && scaleOf(c) > 1) return c->current;
    POINT p{};
    if (valid(c)) GetCurrentPositionEx(c->dc, &p);
    return {p.x, p.y};
}

namespace {
// Cuts the segment a-b to the coordinate range GDI can take, keeping its direction.
bool clipSegment(Point a, Point b, POINT* out) {
    const double lo = -kCoordLimit, hi = kCoordLimit + kMaxBitmapSide;
    return clipSegmentTo(a, b, lo, lo, hi, hi, out);
}

// A line at scale s from the current position (design units) to p.
void scaledLineTo(Context* c, int32_t s, Point p) {
    const Point from = c->current;
    const PenInfo pen = penInfo(c->dc);
    if (pen.thin()) {
        // Cut to the part that can show (with room for the pen's steps), so that GDI never sees
        // coordinates it cannot add up; the 1x pixels inside stay those of the whole line.
        Area area;
        POINT seg[2];
        if (designClip(c, s, &area) &&
            clipSegmentTo(from, p, double(area.left - 64), double(area.top - 64),
                          double(area.right + 64), double(area.bottom + 64), seg)) {
            const Point a{seg[0].x, seg[0].y}, b{seg[1].x, seg[1].y};
            const Point ends[2] = {a, b};
            const Area box = boundsOf(ends, 2);
            thinStroke(c, s, pen, box.left, box.top, box.right, box.bottom, [&](HDC dc) {
                MoveToEx(dc, a.x, a.y, nullptr);
                LineTo(dc, b.x, b.y);
            });
        }
    } else {
        const Point ends[2] = {from, p};
        const Area box = boundsOf(ends, 2);
        scaledShape(c, s, false, box.left, box.top, box.right, box.bottom, [&](HDC dc, int32_t k) {
            const POINT a = up(from, k), b = up(p, k);
            MoveToEx(dc, a.x, a.y, nullptr);
            LineTo(dc, b.x, b.y);
        });
    }
    moveTo(c, p);
}
}  // namespace

void lineTo(Context* c, Point p) {
    if (!valid(c)) return;
    if (const int32_t s = scaleOf(c); s > 1) {
        scaledLineTo(c, s, p);
        return;
    }
    POINT cur{};
    GetCurrentPositionEx(c->dc, &cur);
    const Point from{cur.x, cur.y};
    POINT seg[2];
    const bool inRange =
        std::abs(int64_t(p.x)) <= kCoordLimit && std::abs(int64_t(p.y)) <= kCoordLimit;
    if (inRange) {
        LineTo(c->dc, p.x, p.y);
        seg[0] = cur;
        seg[1] = {p.x, p.y};
        touchPoints(c, seg, 2, penReach(c));
        return;
    }
    // Far away: draw the part GDI can reach, then leave the position where the caller put it.
    if (clipSegment(from, p, seg)) {
        MoveToEx(c->dc, seg[0].x, seg[0].y, nullptr);
        LineTo(c->dc, seg[1].x, seg[1].y);
        touchPoints(c, seg, 2, penReach(c));
    }
    MoveToEx(c->dc, clampCoord(p.x), clampCoord(p.y), nullptr);
}

namespace {
std::vector<POINT> toPoints(const Point* pts, int32_t n) {
    std::vector<POINT> out(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) out[static_cast<size_t>(i)] = toPoint(pts[i]);
    return out;
}
}  // namespace

void polyline(Context* c, const Point* points, int32_t count) {
    if (!valid(c) || !points || count < 2) return;
    if (const int32_t s = scaleOf(c); s > 1) {
        const Area box = boundsOf(points, count);
        scaledShape(c, s, false, box.left, box.top, box.right, box.bottom, [&](HDC dc, int32_t k) {
            const std::vector<POINT> pts = scaledPoints(points, count, k);
            Polyline(dc, pts.data(), count);
        });
        return;
    }
    const std::vector<POINT> pts = toPoints(points, count);
    Polyline(c->dc, pts.data(), count);
    touchPoints(c, pts.data(), count, penReach(c));
}

void polygon(Context* c, const Point* points, int32_t count) {
    if (!valid(c) || !points || count < 2) return;
    if (const int32_t s = scaleOf(c); s > 1) {
        const Area box = boundsOf(points, count);
        scaledShape(c, s, true, box.left, box.top, box.right, box.bottom, [&](HDC dc, int32_t k) {
            const std::vector<POINT> pts = scaledPoints(points, count, k);
            Polygon(dc, pts.data(), count);
        });
        return;
    }
    const std::vector<POINT> pts = toPoints(points, count);
    Polygon(c->dc, pts.data(), count);
    touchPoints(c, pts.data(), count, penReach(c));
}

void fillRect(Context* c, const Rect& rect, Brush* brush) {
    if (!valid(c) || !brush) return;
    const RECT r = up(rect, scaleOf(c));
    if (r.left >= r.right || r.top >= r.bottom) return;
    FillRect(c->dc, &r, brushOf(brush));
    touch(c, r.left, r.top, r.right, r.bottom);
}

namespace {
// What a curve inside box can reach: the box (either corner order) widened by the pen.
void touchBox(Context* c, const RECT& r) {
    const int32_t reach = penReach(c);
    touch(c, std::min(r.left, r.right) - reach, std::min(r.top, r.bottom) - reach,
          std::max(r.left, r.right) + reach, std::max(r.top, r.bottom) + reach);
}
}  // namespace

void ellipse(Context* c, const Rect& box) {
    if (!valid(c)) return;
    if (const int32_t s = scaleOf(c); s > 1) {
        const Area a = areaOfBox(box);
        scaledShape(c, s, true, a.left, a.top, a.right, a.bottom, [&](HDC dc, int32_t k) {
            const RECT r = boxAt(box, k);
            Ellipse(dc, r.left, r.top, r.right, r.bottom);
        });
        return;
    }
    const RECT r = toRect(box);
    Ellipse(c->dc, r.left, r.top, r.right, r.bottom);
    touchBox(c, r);
}

void arc(Context* c, const Rect& box, Point from, Point to) {
    if (!valid(c)) return;
    if (const int32_t s = scaleOf(c); s > 1) {
        const Area a = areaOfBox(box);
        scaledShape(c, s, false, a.left, a.top, a.right, a.bottom, [&](HDC dc, int32_t k) {
            const RECT r = boxAt(box, k);
            const POINT p = up(from, k), q = up(to, k);
            Arc(dc, r.left, r.top, r.right, r.bottom, p.x, p.y, q.x, q.y);
        });
        return;
    }
    const RECT r = toRect(box);
    const POINT a = toPoint(from), b = toPoint(to);
    Arc(c->dc, r.left, r.top, r.right, r.bottom, a.x, a.y, b.x, b.y);
    touchBox(c, r);
}

void pie(Context* c, const Rect& box, Point from, Point to) {
    if (!valid(c)) return;
    if (const int32_t s = scaleOf(c); s > 1) {
        const Area a = areaOfBox(box);
        scaledShape(c, s, true, a.left, a.top, a.right, a.bottom, [&](HDC dc, int32_t k) {
            const RECT r = boxAt(box, k);
            const POINT p = up(from, k), q = up(to, k);
            Pie(dc, r.left, r.top, r.right, r.bottom, p.x, p.y, q.x, q.y);
        });
        return;
    }
    const RECT r = toRect(box);
    const POINT a = toPoint(from), b = toPoint(to);
    Pie(c->dc, r.left, r.top, r.right, r.bottom, a.x, a.y, b.x, b.y);
    touchBox(c, r);
}

void angleArc(Context* c, Point centre, int32_t radius, float startDegrees, float sweepDegrees) {
    if (!valid(c) || radius < 0 || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees))
        return;
    if (const int32_t s = scaleOf(c); s > 1) {
        const Point from = c->current;
        const int32_t r = std::min(radius, kCoordLimit);
        const float start = std::fmod(startDegrees, 360.0f);
        const float sweep = std::clamp(sweepDegrees, -360.0f, 360.0f);
        const double pi = 3.14159265358979323846;
        auto onCircle = [&](double degrees, int32_t k) {
            const POINT m = up(centre, k);
            const double a = degrees * pi / 180.0, rk = double(r) * k;
            return POINT{clampCoord(std::llround(m.x + rk * std::cos(a))),
                         clampCoord(std::llround(m.y - rk * std::sin(a)))};
        };
        const Area box{std::min<int64_t>(int64_t(centre.x) - r, from.x),
                       std::min<int64_t>(int64_t(centre.y) - r, from.y),
                       std::max<int64_t>(int64_t(centre.x) + r, from.x) + 1,
                       std::max<int64_t>(int64_t(centre.y) + r, from.y) + 1};
        scaledShape(c, s, false, box.left, box.top, box.right, box.bottom, [&](HDC dc, int32_t k) {
            const POINT a = up(from, k), m = up(centre, k);
            MoveToEx(dc, a.x, a.y, nullptr);
            if (sweep == 0.0f) {
                // Only the line to the arc's start, as at 1x.
                const POINT b = onCircle(start, k);
                LineTo(dc, b.x, b.y);
            } else {
                AngleArc(dc, m.x, m.y, static_cast<DWORD>(r) * k, start, sweep);
            }
        });
        const POINT end = onCircle(double(start) + sweep, 1);
        moveTo(c, {end.x, end.y});
        return;
    }
    const POINT m = toPoint(centre);
    const DWORD r = static_cast<DWORD>(std::min(radius, kCoordLimit));
    const float sweep = std::clamp(sweepDegrees, -360.0f, 360.0f);
    POINT cur{};
    GetCurrentPositionEx(c->dc, &cur);
    if (sweep == 0.0f) {
        // Only the line to the arc's start: Wine draws a whole circle for an empty sweep.
        const double a =
            std::fmod(static_cast<double>(startDegrees), 360.0) * 3.14159265358979323846 / 180.0;
        LineTo(c->dc, static_cast<int>(std::lround(m.x + r * std::cos(a))),
               static_cast<int>(std::lround(m.y - r * std::sin(a))));
    } else {
        AngleArc(c->dc, m.x, m.y, r, std::fmod(startDegrees, 360.0f), sweep);
    }
    const int32_t reach = penReach(c) + 1;
    touch(c, std::min<int64_t>(m.x - int64_t(r), cur.x) - reach,
          std::min<int64_t>(m.y - int64_t(r), cur.y) - reach,
          std::max<int64_t>(m.x + int64_t(r), cur.x) + reach,
          std::max<int64_t>(m.y + int64_t(r), cur.y) + reach);
}

Color setPixel(Context* c, Point p, Color color) {
    if (!valid(c)) return kInvalidColor;
    if (const int32_t s = scaleOf(c); s > 1) {
        // The whole block; the answer is its top-left pixel's, as getPixel reads it.
        const POINT q = up(p, s);
        if (!PtVisible(c->dc, q.x, q.y)) return kInvalidColor;
        HBRUSH brush = CreateSolidBrush(color & kRgbMask);
        if (!brush) return kInvalidColor;
        const RECT block{q.x, q.y, q.x + s, q.y + s};
        FillRect(c->dc, &block, brush);
        DeleteObject(brush);
        touch(c, block.left, block.top, block.right, block.bottom);
        const COLORREF v = GetPixel(c->dc, q.x, q.y);
        return v == CLR_INVALID ? kInvalidColor : (v & kRgbMask);
    }
    const POINT q = toPoint(p);
    const COLORREF set = SetPixel(c->dc, q.x, q.y, color & kRgbMask);
    if (set == CLR_INVALID) return kInvalidColor;
    touch(c, q.x, q.y, int64_t(q.x) + 1, int64_t(q.y) + 1);
    return set;
}

// At a larger scale, the top-left device pixel of the design pixel's block.
Color getPixel(Context* c, Point p) {
    if (!valid(c)) return kInvalidColor;
    const int32_t s = scaleOf(c);
    if (std::abs(int64_t(p.x) * s) > kCoordLimit || std::abs(int64_t(p.y) * s) > kCoordLimit)
        return kInvalidColor;
    p = {p.x * s, p.y * s};
    // Outside the clip the answer is "invalid"; Wine would read the pixel anyway.
    if (!PtVisible(c->dc, p.x, p.y)) return kInvalidColor;
    const COLORREF v = GetPixel(c->dc, p.x, p.y);
    return v == CLR_INVALID ? kInvalidColor : (v & kRgbMask);
}

void floodFillSurface(Context* c, Point p) {
    if (!valid(c)) return;
    const Color seed = getPixel(c, p);
    if (seed == kInvalidColor) return;
    const int32_t s = scaleOf(c);  // getPixel found it inside GDI's range
    ExtFloodFill(c->dc, p.x * s, p.y * s, seed, FLOODFILLSURFACE);
    touch(c, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
}

// ---- Text ------------------------------------------------------------------------------------

std::wstring widen(const char* text) {
    if (!text) return {};
    std::wstring out;
    if (const std::size_t n = utf8::boundedLength(text, kMaxTextBytes);
        n > 0 && utf8::valid(text, n)) {
        const int len = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0);
        if (len > 0) {
            out.resize(static_cast<size_t>(len));
            MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(n), out.data(), len);
            return out;
        }
    }
    // Latin-1 is the first 256 code points of UTF-16.
    const std::size_t n = strnlen(text, kMaxTextBytes);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<wchar_t>(s[i]));
    return out;
}

std::string narrow(const wchar_t* text, int length) {
    if (!text) return {};
    const int len = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (len <= 0) return {};
    std::string out(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), len, nullptr, nullptr);
    if (length < 0 && !out.empty() && out.back() == '\0') out.pop_back();
    return out;
}

Size textExtent(Context* c, const char* text) {
    if (!valid(c) || !text) return {};
    const std::wstring w = widen(text);
    SIZE s{};
    if (w.empty()) {
        TEXTMETRICW tm{};
        GetTextMetricsW(c->dc, &tm);
        return {0, tm.tmHeight};
    }
    if (!GetTextExtentPoint32W(c->dc, w.c_str(), static_cast<int>(w.size()), &s)) return {};
    return {s.cx, s.cy};
}

void drawText(Context* c, const char* text, const Rect& rect, TextAlign align) {
    if (!valid(c) || !text) return;
    const std::wstring w = widen(text);
    const int32_t s = scaleOf(c);
    RECT r = up(rect, s);
    if (r.left >= r.right || r.top >= r.bottom) return;
    UINT flags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    if (align == TextAlign::center) flags |= DT_CENTER;
    else if (align == TextAlign::right) flags |= DT_RIGHT;
    // Above 1x the selected font is set at scale times its size for this text only: extents
    // stay those of the design font.
    HFONT larger = nullptr;
    HGDIOBJ previous = nullptr;
    if (s > 1) {
        LOGFONTW lf{};
        if (GetObjectW(GetCurrentObject(c->dc, OBJ_FONT), sizeof lf, &lf) == sizeof lf) {
            lf.lfHeight = std::clamp(lf.lfHeight, -2048L, 2048L) * s;
            lf.lfWidth = std::clamp(lf.lfWidth, 0L, 2048L) * s;
            larger = CreateFontIndirectW(&lf);
        }
        if (!larger) return;
        previous = SelectObject(c->dc, larger);
    }
    DrawTextW(c->dc, w.c_str(), static_cast<int>(w.size()), &r, flags);
    if (larger) {
        SelectObject(c->dc, previous);
        DeleteObject(larger);
    }
    touch(c, r.left, r.top, r.right, r.bottom);
}

// ---- Block transfers -------------------------------------------------------------------------

namespace {
// The destination block cut to what the destination can show, the source offsets following;
// false when nothing is left. Keeps GDI away from coordinates it cannot add up.
bool clipBlit(Context* dst, int32_t& x, int32_t& y, int32_t& w, int32_t& h, int32_t& sx,
              int32_t& sy) {
    if (w <= 0 || h <= 0) return false;
    RECT box{};
    if (GetClipBox(dst->dc, &box) == ERROR) return false;
    int64_t x0 = x, y0 = y, x1 = int64_t(x) + w, y1 = int64_t(y) + h;
    int64_t sx0 = sx, sy0 = sy;
    if (x0 < box.left) {
        sx0 += box.left - x0;
        x0 = box.left;
    }
    if (y0 < box.top) {
        sy0 += box.top - y0;
        y0 = box.top;
    }
    x1 = std::min<int64_t>(x1, box.right);
    y1 = std::min<int64_t>(y1, box.bottom);
    if (x1 <= x0 || y1 <= y0) return false;
    if (std::abs(sx0) > INT32_MAX / 2 || std::abs(sy0) > INT32_MAX / 2) return false;
    x = static_cast<int32_t>(x0);
    y = static_cast<int32_t>(y0);
    w = static_cast<int32_t>(x1 - x0);
    h = static_cast<int32_t>(y1 - y0);
    sx = static_cast<int32_t>(sx0);
    sy = static_cast<int32_t>(sy0);
    return true;
}

bool stretchArgsOk(int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx, int32_t sy, int32_t sw,
                   int32_t sh) {
    auto ok = [](int32_t v) { return std::abs(int64_t(v)) <= kCoordLimit; };
    return w > 0 && h > 0 && sw > 0 && sh > 0 && ok(x) && ok(y) && ok(sx) && ok(sy) && ok(w) &&
           ok(h) && ok(sw) && ok(sh);
}
}  // namespace

namespace {
// Each side's rectangle of a transfer in its own device pixels; false when a value leaves the
// range GDI can add up (nothing of such a transfer could show).
struct Mapped {
    int32_t x, y, w, h, sx, sy, sw, sh;
};
bool mapBlit(const Context* dst, const Context* src, int32_t x, int32_t y, int32_t w, int32_t h,
             int32_t sx, int32_t sy, int32_t sw, int32_t sh, Mapped* out) {
    const int32_t ds = scaleOf(dst), ss = scaleOf(src);
    const int64_t v[8] = {int64_t(x) * ds,  int64_t(y) * ds,  int64_t(w) * ds,  int64_t(h) * ds,
                          int64_t(sx) * ss, int64_t(sy) * ss, int64_t(sw) * ss, int64_t(sh) * ss};
    for (int64_t e : v)
        if (e > INT32_MAX / 2 || e < -(INT32_MAX / 2)) return false;
    *out = {int32_t(v[0]), int32_t(v[1]), int32_t(v[2]), int32_t(v[3]),
            int32_t(v[4]), int32_t(v[5]), int32_t(v[6]), int32_t(v[7])};
    return true;
}
}  // namespace

void bitBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src, int32_t sx,
            int32_t sy, BlitOp op) {
    if (!valid(dst) || !valid(src)) return;
    const DWORD rop = op == BlitOp::srcInvert ? SRCINVERT : op == BlitOp::srcAnd ? SRCAND : SRCCOPY;
    if (scaleOf(dst) != 1 || scaleOf(src) != 1) {
        Mapped m{};
        if (!mapBlit(dst, src, x, y, w, h, sx, sy, w, h, &m)) return;
        if (scaleOf(dst) == scaleOf(src)) {
            if (!clipBlit(dst, m.x, m.y, m.w, m.h, m.sx, m.sy)) return;
            BitBlt(dst->dc, m.x, m.y, m.w, m.h, src->dc, m.sx, m.sy, rop);
            touch(dst, m.x, m.y, int64_t(m.x) + m.w, int64_t(m.y) + m.h);
            return;
        }
        // Between scales: each destination pixel takes its nearest source pixel, through the op.
        if (!stretchArgsOk(m.x, m.y, m.w, m.h, m.sx, m.sy, m.sw, m.sh)) return;
        const int mode = SetStretchBltMode(dst->dc, COLORONCOLOR);
        StretchBlt(dst->dc, m.x, m.y, m.w, m.h, src->dc, m.sx, m.sy, m.sw, m.sh, rop);
        SetStretchBltMode(dst->dc, mode);
        if (mode == HALFTONE) SetBrushOrgEx(dst->dc, 0, 0, nullptr);
        touch(dst, m.x, m.y, int64_t(m.x) + m.w, int64_t(m.y) + m.h);
        return;
    }
    if (!clipBlit(dst, x, y, w, h, sx, sy)) return;
    BitBlt(dst->dc, x, y, w, h, src->dc, sx, sy, rop);
    touch(dst, x, y, int64_t(x) + w, int64_t(y) + h);
}

namespace {

// Whether the system's HALFTONE mode averages what it shrinks. Windows does; Wine (up to at least
// 8.0) only samples, which would leave the knobs' arcs jagged.
bool systemHalftoneAverages() {
    static const bool averages = [] {
        Bitmap* from = createBitmap(2, 2);
        Bitmap* to = createBitmap(1, 1);
        Context* a = createContext(nullptr);
        Context* b = createContext(nullptr);
        bool result = true;
        if (from && to && a && b) {
            selectBitmap(a, from);
            selectBitmap(b, to);
            GdiFlush();
            from->bits[0] = from->bits[3] = 0xFFFFFF;
            SetStretchBltMode(b->dc, HALFTONE);
            SetBrushOrgEx(b->dc, 0, 0, nullptr);
            StretchBlt(b->dc, 0, 0, 1, 1, a->dc, 0, 0, 2, 2, SRCCOPY);
            GdiFlush();
            const uint32_t v = to->bits[0] & 0xFF;
            result = v > 0x20 && v < 0xE0;
        }
        deleteContext(a);
        deleteContext(b);
        deleteBitmap(from);
        deleteBitmap(to);
        return result;
    }();
    return averages;
}

// Source cells [s0, s1) (fractional source pixels) and the share of each one covered.
struct Span {
    int32_t first = 0;
    std::vector<double> weights;
};
Span spanFor(double s0, double s1) {
    Span sp;
    const int64_t i0 = static_cast<int64_t>(std::floor(s0));
    const int64_t i1 = static_cast<int64_t>(std::ceil(s1));
    sp.first = static_cast<int32_t>(i0);
    for (int64_t i = i0; i < i1; ++i) {
        const double lo = std::max<double>(s0, static_cast<double>(i));
        const double hi = std::min<double>(s1, static_cast<double>(i + 1));
        sp.weights.push_back(std::max(0.0, hi - lo));
    }
    return sp;
}

// HALFTONE where the system only samples: every destination pixel becomes the area-weighted mean
// of the source pixels it covers, computed in a work bitmap and copied over in one transfer.
bool averagedStretch(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                     int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
    const Bitmap* sb = src->bitmap;
    if (!sb || sb->mono || !sb->bits) return false;
    RECT box{};
    if (GetClipBox(dst->dc, &box) == ERROR) return false;
    const int32_t left = std::max<int32_t>(x, box.left), top = std::max<int32_t>(y, box.top);
    const int32_t right = static_cast<int32_t>(std::min<int64_t>(int64_t(x) + w, box.right));
    const int32_t bottom = static_cast<int32_t>(std::min<int64_t>(int64_t(y) + h, box.bottom));
    if (left >= right || top >= bottom) return true;
    Bitmap* work = createBitmap(right - left, bottom - top);
    Context* wc = work ? createContext(nullptr) : nullptr;
    if (!wc) {
        deleteBitmap(work);
        return false;
    }
    selectBitmap(wc, work);
    // Pixels no source pixel covers keep what the destination showed.
    BitBlt(wc->dc, 0, 0, work->width, work->height, dst->dc, left, top, SRCCOPY);
    GdiFlush();
    const double fx = double(sw) / w, fy = double(sh) / h;
    std::vector<Span> cols(static_cast<size_t>(right - left));
    for (int32_t px = left; px < right; ++px)
        cols[static_cast<size_t>(px - left)] = spanFor(sx + (px - x) * fx, sx + (px - x + 1) * fx);
    for (int32_t py = top; py < bottom; ++py) {
        const Span row = spanFor(sy + (py - y) * fy, sy + (py - y + 1) * fy);
        for (int32_t px = left; px < right; ++px) {
            const Span& col = cols[static_cast<size_t>(px - left)];
            double r = 0, g = 0, b = 0, total = 0;
            for (size_t j = 0; j < row.weights.size(); ++j) {
                const int64_t syy = int64_t(row.first) + static_cast<int64_t>(j);
                if (syy < 0 || syy >= sb->height || row.weights[j] == 0) continue;
                const uint32_t* line = sb->bits + static_cast<size_t>(syy) * sb->width;
                for (size_t i = 0; i < col.weights.size(); ++i) {
                    const int64_t sxx = int64_t(col.first) + static_cast<int64_t>(i);
                    if (sxx < 0 || sxx >= sb->width) continue;
                    const double wgt = row.weights[j] * col.weights[i];
                    if (wgt == 0) continue;
                    const uint32_t p = line[sxx];
                    r += wgt * ((p >> 16) & 0xFF);
                    g += wgt * ((p >> 8) & 0xFF);
                    b += wgt * (p & 0xFF);
                    total += wgt;
                }
            }
            if (total <= 0) continue;
            const uint32_t pr = static_cast<uint32_t>(std::lround(r / total));
            const uint32_t pg = static_cast<uint32_t>(std::lround(g / total));
            const uint32_t pb = static_cast<uint32_t>(std::lround(b / total));
            work->bits[static_cast<size_t>(py - top) * work->width + (px - left)] =
                pr << 16 | pg << 8 | pb;
        }
    }
    BitBlt(dst->dc, left, top, work->width, work->height, wc->dc, 0, 0, SRCCOPY);
    deleteContext(wc);
    deleteBitmap(work);
    touch(dst, left, top, right, bottom);
    return true;
}

}  // namespace

void stretchBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh) {
    if (!valid(dst) || !valid(src)) return;
    if (scaleOf(dst) != 1 || scaleOf(src) != 1) {
        Mapped m{};
        if (!mapBlit(dst, src, x, y, w, h, sx, sy, sw, sh, &m)) return;
        x = m.x, y = m.y, w = m.w, h = m.h, sx = m.sx, sy = m.sy, sw = m.sw, sh = m.sh;
    }
    if (!stretchArgsOk(x, y, w, h, sx, sy, sw, sh)) return;
    const bool resized = w != sw || h != sh;
    const bool colour = !(dst->bitmap && dst->bitmap->mono) && src->bitmap && !src->bitmap->mono;
    if (resized && colour && GetStretchBltMode(dst->dc) == HALFTONE && !systemHalftoneAverages() &&
        averagedStretch(dst, x, y, w, h, src, sx, sy, sw, sh))
        return;
    StretchBlt(dst->dc, x, y, w, h, src->dc, sx, sy, sw, sh, SRCCOPY);
    touch(dst, x, y, int64_t(x) + w, int64_t(y) + h);
}

// msimg32.dll, bound at run time: each binding holds a reference to the library.
namespace {
using AlphaBlendFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
using TransparentBltFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, UINT);
struct Msimg {
    HMODULE library = nullptr;
    int32_t bindings = 0;
    AlphaBlendFn alphaBlend = nullptr;
    TransparentBltFn transparentBlt = nullptr;
};
Msimg gMsimg;
}  // namespace

bool transparentBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                    int32_t sx, int32_t sy, int32_t sw, int32_t sh, Color key) {
    Mapped m{};
    if (!valid(dst) || !valid(src) || !gMsimg.transparentBlt ||
        !mapBlit(dst, src, x, y, w, h, sx, sy, sw, sh, &m))
        return false;
    x = m.x, y = m.y, w = m.w, h = m.h, sx = m.sx, sy = m.sy, sw = m.sw, sh = m.sh;
    if (!stretchArgsOk(x, y, w, h, sx, sy, sw, sh)) return false;
    const bool ok =
        gMsimg.transparentBlt(dst->dc, x, y, w, h, src->dc, sx, sy, sw, sh, key & kRgbMask);
    touch(dst, x, y, int64_t(x) + w, int64_t(y) + h);
    return ok;
}

bool alphaBlend(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh, uint8_t alpha) {
    Mapped m{};
    if (!valid(dst) || !valid(src) || !gMsimg.alphaBlend ||
        !mapBlit(dst, src, x, y, w, h, sx, sy, sw, sh, &m))
        return false;
    x = m.x, y = m.y, w = m.w, h = m.h, sx = m.sx, sy = m.sy, sw = m.sw, sh = m.sh;
    if (!stretchArgsOk(x, y, w, h, sx, sy, sw, sh)) return false;
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, alpha, 0};
    const bool ok = gMsimg.alphaBlend(dst->dc, x, y, w, h, src->dc, sx, sy, sw, sh, blend);
    touch(dst, x, y, int64_t(x) + w, int64_t(y) + h);
    return ok;
}

OptionalBlits bindOptionalBlits() {
    OptionalBlits out;
    HMODULE lib = LoadLibraryA("msimg32.dll");
    if (!lib) return out;
    if (gMsimg.bindings++ == 0) {
        gMsimg.library = lib;
        gMsimg.alphaBlend = reinterpret_cast<AlphaBlendFn>(
            reinterpret_cast<void*>(GetProcAddress(lib, "AlphaBlend")));
        // TransparentBlt leaks memory on the old consumer systems: offered on the NT family only.
        OSVERSIONINFOEXA version{};
        version.dwOSVersionInfoSize = sizeof version;
        if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)) &&
            version.dwPlatformId > VER_PLATFORM_WIN32_WINDOWS)
            gMsimg.transparentBlt = reinterpret_cast<TransparentBltFn>(
                reinterpret_cast<void*>(GetProcAddress(lib, "TransparentBlt")));
    }
    out.library = lib;
    if (gMsimg.alphaBlend) out.alphaBlend = &alphaBlend;
    if (gMsimg.transparentBlt) out.transparentBlt = &transparentBlt;
    return out;
}

void unbindOptionalBlits(OptionalBlits* blits) {
    if (!blits || !blits->library) return;
    HMODULE lib = static_cast<HMODULE>(blits->library);
    *blits = OptionalBlits{};
    if (gMsimg.bindings > 0 && --gMsimg.bindings == 0) gMsimg = Msimg{};
    FreeLibrary(lib);
}

}  // namespace platform
