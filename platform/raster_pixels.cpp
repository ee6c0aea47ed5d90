// SPDX-License-Identifier: GPL-3.0-or-later
// The raster's pixel-exact part: bitmaps, contexts and their objects, one-pixel lines, fills,
// pixel access, flood fill and the block transfers (bitwise, stretched, halftone, transparent,
// blended). Our own code throughout: no cairo call, so every rule here is ours to state.
#include "raster_pixels.h"

#include "bitmap_selection.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace platform {

using namespace pixels;

namespace {

Pen gStockBlackPen{PenDesc{}, true};
Pen gStockNullPen{PenDesc{PenStyle::null, 1, 0, false, LineCap::round, LineJoin::round}, true};
Brush gStockWhiteBrush{0xFFFFFF, false, true};
Brush gStockNullBrush{0, true, true};

}  // namespace

// ---- Bitmaps ---------------------------------------------------------------------------------

Bitmap* createBitmap(int32_t width, int32_t height) {
    if (!sizeOk(width, height)) return nullptr;
    auto* b = new (std::nothrow) Bitmap;
    if (!b) return nullptr;
    try {
        b->store.assign(static_cast<size_t>(width) * height, 0u);
    } catch (const std::bad_alloc&) {
        delete b;
        return nullptr;
    }
    b->width = width;
    b->height = height;
    b->pixels = b->store.data();
    b->stride = width;
    return b;
}

Bitmap* createMonoBitmap(int32_t width, int32_t height) {
    if (!sizeOk(width, height)) return nullptr;
    auto* b = new (std::nothrow) Bitmap;
    if (!b) return nullptr;
    try {
        b->bits.assign(static_cast<size_t>(width) * height, 0);
    } catch (const std::bad_alloc&) {
        delete b;
        return nullptr;
    }
    b->width = width;
    b->height = height;
    b->mono = true;
    return b;
}

Bitmap* wrapPixels(uint32_t* pixels, int32_t width, int32_t height, int32_t stride, int32_t scale) {
    if (!pixels || !sizeOk(width, height) || stride < width || scale < 1 || scale > kMaxScale)
        return nullptr;
    auto* b = new (std::nothrow) Bitmap;
    if (!b) return nullptr;
    b->width = width;
    b->height = height;
    b->pixels = pixels;
    b->stride = stride;
    b->scale = scale;
    return b;
}

Bitmap* createScaledBitmap(int32_t width, int32_t height, int32_t scale) {
    if (scale < 1 || scale > kMaxScale || !sizeOk(width, height) ||
        width > kMaxBitmapSide / scale || height > kMaxBitmapSide / scale)
        return nullptr;
    Bitmap* b = createBitmap(width * scale, height * scale);
    if (b) b->scale = scale;
    return b;
}

Bitmap* createCompatibleBitmap(Context* context, int32_t width, int32_t height) {
    // At the context's scale: what is drawn into it keeps its resolution when copied back.
    const int32_t s = scaleOf(context);
    if (!sizeOk(width, height) || width > kMaxBitmapSide / s || height > kMaxBitmapSide / s)
        return nullptr;
    Bitmap* b = context && context->bitmap && context->bitmap->mono
                    ? createMonoBitmap(width * s, height * s)
                    : createBitmap(width * s, height * s);
    if (b) b->scale = s;
    return b;
}

void deleteBitmap(Bitmap* bitmap) {
    if (bitmap && selection::mayFreeNow(bitmap)) delete bitmap;
}

int32_t bitmapWidth(const Bitmap* bitmap) { return bitmap ? bitmap->width / bitmap->scale : 0; }
int32_t bitmapHeight(const Bitmap* bitmap) { return bitmap ? bitmap->height / bitmap->scale : 0; }
bool bitmapIsMono(const Bitmap* bitmap) { return bitmap && bitmap->mono; }

uint32_t* bitmapPixels(Bitmap* bitmap, int32_t* stride) {
    if (!bitmap || bitmap->mono) return nullptr;
    if (stride) *stride = bitmap->stride;
    return bitmap->pixels;
}

Rect takeDamage(Bitmap* bitmap) {
    if (!bitmap) return {};
    const Rect r = bitmap->damage;
    bitmap->damage = {};
    return r;
}

// ---- Contexts --------------------------------------------------------------------------------

namespace {
void freeBitmap(Bitmap* b) { delete b; }
}  // namespace

Context* createContext(Context* /*compatible*/) {
    auto* c = new (std::nothrow) Context;
    if (!c) return nullptr;
    c->stockBitmap = createMonoBitmap(1, 1);
    if (!c->stockBitmap) {
        delete c;
        return nullptr;
    }
    c->bitmap = c->stockBitmap;
    c->stockBitmap->selectedBy = c;
    c->pen = &gStockBlackPen;
    c->brush = &gStockWhiteBrush;
    c->font = stockFont();
    return c;
}

Context* createWindowContext(Bitmap* windowImage) {
    Context* c = createContext(nullptr);
    // Not a selection: a window's image never belongs to one of its contexts.
    if (c && windowImage) c->bitmap = windowImage;
    return c;
}

void deleteContext(Context* context) {
    if (!context) return;
    selection::release(context, context->stockBitmap, freeBitmap);
    delete context->stockBitmap;
    delete context;
}

Bitmap* selectBitmap(Context* context, Bitmap* bitmap) {
    if (!context || !bitmap || !selection::maySelect(context, bitmap)) return nullptr;
    if (context->bitmap == bitmap) return bitmap;
    return selection::swap(context, bitmap, context->stockBitmap, freeBitmap);
}

Bitmap* selectedBitmap(Context* context) { return context ? context->bitmap : nullptr; }

Pen* createPen(const PenDesc& desc) {
    auto* p = new (std::nothrow) Pen;
    if (!p) return nullptr;
    p->desc = desc;
    if (p->desc.width < 0) p->desc.width = 0;
    // Wider than any surface can show; keeps cairo's arithmetic sane.
    if (p->desc.width > 4 * kMaxBitmapSide) p->desc.width = 4 * kMaxBitmapSide;
    return p;
}
Pen* stockNullPen() { return &gStockNullPen; }
void deletePen(Pen* pen) {
    if (pen && !pen->stock) delete pen;
}
Pen* selectPen(Context* context, Pen* pen) {
    if (!context || !pen) return nullptr;
    Pen* old = context->pen;
    context->pen = pen;
    return old;
}

Brush* createSolidBrush(Color color) {
    auto* b = new (std::nothrow) Brush;
    if (!b) return nullptr;
    b->color = color & kRgbMask;
    return b;
}
Brush* stockNullBrush() { return &gStockNullBrush; }
void deleteBrush(Brush* brush) {
    if (brush && !brush->stock) delete brush;
}
Brush* selectBrush(Context* context, Brush* brush) {
    if (!context || !brush) return nullptr;
    Brush* old = context->brush;
    context->brush = brush;
    return old;
}

Pen* selectedPen(Context* c) { return c ? c->pen : nullptr; }
Brush* selectedBrush(Context* c) { return c ? c->brush : nullptr; }
Font* selectedFont(Context* c) { return c ? c->font : nullptr; }

Color setTextColor(Context* c, Color color) {
    if (!c) return kInvalidColor;
    const Color old = c->textColor;
    c->textColor = color & kRgbMask;
    return old;
}
Color setBkColor(Context* c, Color color) {
    if (!c) return kInvalidColor;
    const Color old = c->bkColor;
    c->bkColor = color & kRgbMask;
    return old;
}
Color getBkColor(Context* c) { return c ? c->bkColor : kInvalidColor; }
Color getTextColor(Context* c) { return c ? c->textColor : kInvalidColor; }
BkMode setBkMode(Context* c, BkMode mode) {
    if (!c) return BkMode::transparent;
    const BkMode old = c->bkMode;
    c->bkMode = mode;
    return old;
}
Rop2 setRop2(Context* c, Rop2 mode) {
    if (!c) return Rop2::copyPen;
    const Rop2 old = c->rop;
    c->rop = mode;
    return old;
}
StretchMode setStretchMode(Context* c, StretchMode mode) {
    if (!c) return StretchMode::colorOnColor;
    const StretchMode old = c->stretch;
    c->stretch = mode;
    return old;
}
void setClipRect(Context* c, const Rect* clip) {
    if (!c) return;
    c->hasClip = clip != nullptr;
    if (clip) c->clip = up(*clip, scaleOf(c));
}

// ---- Lines -----------------------------------------------------------------------------------

namespace pixels {

// Pixels are computed in closed form along the major axis so that only the steps inside the
// drawing area are visited, however long the line.
void thinLine(Context* c, Point a, Point b, int64_t* phase) {
    const Rect area = designArea(c);
    if (emptyRect(area)) return;
    const int64_t dx = int64_t(b.x) - a.x, dy = int64_t(b.y) - a.y;
    const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const int64_t n = std::max(adx, ady);
    if (n == 0) return;
    const bool xMajor = adx >= ady;
    const int64_t sMajor = xMajor ? (dx < 0 ? -1 : 1) : (dy < 0 ? -1 : 1);
    const int64_t sMinor = xMajor ? (dy < 0 ? -1 : 1) : (dx < 0 ? -1 : 1);
    const int64_t dMinor = xMajor ? ady : adx;
    const int64_t major0 = xMajor ? a.x : a.y;
    const int64_t minor0 = xMajor ? a.y : a.x;
    const int64_t lo = xMajor ? area.left : area.top;
    const int64_t hi = (xMajor ? area.right : area.bottom) - 1;
    // Steps i (0..n-1) whose major coordinate major0 + sMajor*i lies in [lo, hi].
    int64_t i0 = 0, i1 = 0;
    if (sMajor > 0) {
        i0 = lo - major0;
        i1 = hi - major0;
    } else {
        i0 = major0 - hi;
        i1 = major0 - lo;
    }
    i0 = std::max<int64_t>(i0, 0);
    i1 = std::min<int64_t>(i1, n - 1);
    for (int64_t i = i0; i <= i1; ++i) {
        const int64_t minor = minor0 + sMinor * ((2 * i * dMinor + n) / (2 * n));
        const int64_t major = major0 + sMajor * i;
        const int64_t x = xMajor ? major : minor, y = xMajor ? minor : major;
        if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) continue;
        plotStyled(c, area, static_cast<int32_t>(x), static_cast<int32_t>(y), *phase + i);
    }
    *phase += n;
}

void damageRect(Context* c, int64_t l, int64_t t, int64_t r, int64_t b) {
    const Rect area = drawArea(c);
    const int32_t s = scaleOf(c);
    l *= s;
    t *= s;
    r *= s;
    b *= s;
    Rect rr{static_cast<int32_t>(std::clamp<int64_t>(l, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(t, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(b, INT32_MIN, INT32_MAX))};
    addDamage(c->bitmap, intersect(rr, area));
}

}  // namespace pixels

void moveTo(Context* c, Point p) {
    if (c) c->current = p;
}
Point currentPosition(Context* c) { return c ? c->current : Point{}; }

void fillRect(Context* c, const Rect& rect, Brush* brush) {
    if (!validContext(c) || !brush || brush->null) return;
    fillDevice(c, up(rect, scaleOf(c)), brush->color);
}

void pixels::fillDevice(Context* c, const Rect& rect, Color color) {
    const Rect r = intersect(drawArea(c), rect);
    if (emptyRect(r)) return;
    Bitmap* b = c->bitmap;
    if (b->mono) {
        const uint8_t bit = static_cast<uint8_t>(monoBit(color));
        for (int32_t y = r.top; y < r.bottom; ++y)
            std::fill_n(&b->bits[static_cast<size_t>(y) * b->width + r.left], r.right - r.left,
                        bit);
    } else {
        const uint32_t p = toPixel(color);
        for (int32_t y = r.top; y < r.bottom; ++y)
            std::fill_n(&b->pixels[static_cast<size_t>(y) * b->stride + r.left], r.right - r.left,
                        p);
    }
    addDamage(b, r);
}
// ---- Pixels ----------------------------------------------------------------------------------

Color setPixel(Context* c, Point p, Color color) {
    if (!validContext(c)) return kInvalidColor;
    const int32_t s = scaleOf(c);
    const Rect block = intersect(drawArea(c), up(Rect{p.x, p.y, p.x + 1, p.y + 1}, s));
    p = up(p, s);
    if (emptyRect(block) || !inside(block, p.x, p.y)) return kInvalidColor;
    for (int32_t y = block.top; y < block.bottom; ++y)
        for (int32_t x = block.left; x < block.right; ++x)
            storePixel(c->bitmap, x, y, toPixel(color));
    addDamage(c->bitmap, block);
    return fromPixel(readPixel(c->bitmap, p.x, p.y));
}

// At a larger scale, the top-left device pixel of the design pixel's block.
Color getPixel(Context* c, Point p) {
    if (!validContext(c)) return kInvalidColor;
    p = up(p, scaleOf(c));
    if (!inside(drawArea(c), p.x, p.y)) return kInvalidColor;
    return fromPixel(readPixel(c->bitmap, p.x, p.y));
}

void floodFillSurface(Context* c, Point p) {
    if (!validContext(c) || c->brush->null) return;
    p = up(p, scaleOf(c));
    const Rect area = drawArea(c);
    if (!inside(area, p.x, p.y)) return;
    Bitmap* b = c->bitmap;
    const uint32_t target = readPixel(b, p.x, p.y);
    const int32_t w = area.right - area.left, h = area.bottom - area.top;
    std::vector<uint8_t> seen(static_cast<size_t>(w) * h, 0);
    auto idx = [&](int32_t x, int32_t y) {
        return static_cast<size_t>(y - area.top) * w + (x - area.left);
    };
    auto matches = [&](int32_t x, int32_t y) {
        return !seen[idx(x, y)] && readPixel(b, x, y) == target;
    };
    const uint32_t paint =
        b->mono ? (monoBit(c->brush->color) ? kRgbMask : 0) : toPixel(c->brush->color);
    std::vector<Point> stack{p};
    Rect touched{p.x, p.y, p.x + 1, p.y + 1};
    while (!stack.empty()) {
        Point s = stack.back();
        stack.pop_back();
        if (!matches(s.x, s.y)) continue;
        int32_t x0 = s.x, x1 = s.x;
        while (x0 > area.left && matches(x0 - 1, s.y)) --x0;
        while (x1 + 1 < area.right && matches(x1 + 1, s.y)) ++x1;
        for (int32_t x = x0; x <= x1; ++x) {
            seen[idx(x, s.y)] = 1;
            storePixel(b, x, s.y, paint);
        }
        touched.left = std::min(touched.left, x0);
        touched.right = std::max(touched.right, x1 + 1);
        touched.top = std::min(touched.top, s.y);
        touched.bottom = std::max(touched.bottom, s.y + 1);
        for (int32_t ny : {s.y - 1, s.y + 1}) {
            if (ny < area.top || ny >= area.bottom) continue;
            bool run = false;
            for (int32_t x = x0; x <= x1; ++x) {
                const bool m = matches(x, ny);
                if (m && !run) stack.push_back({x, ny});
                run = m;
            }
        }
    }
    addDamage(b, touched);
}

// ---- Block transfers -------------------------------------------------------------------------

namespace {

// A source pixel in the destination's terms (see the header for the conversion rules).
uint32_t convertPixel(const Context* dst, const Context* src, int32_t sx, int32_t sy) {
    const Bitmap* sb = src->bitmap;
    const Bitmap* db = dst->bitmap;
    if (sb->mono) {
        const uint8_t bit = sb->bits[static_cast<size_t>(sy) * sb->width + sx];
        if (db->mono) return bit;
        return bit ? toPixel(dst->bkColor) : toPixel(dst->textColor);
    }
    const uint32_t p = sb->pixels[static_cast<size_t>(sy) * sb->stride + sx] & kRgbMask;
    if (db->mono) return p == toPixel(src->bkColor) ? 1u : 0u;
    return p;
}

// The destination rectangle narrowed to the drawing area and to where the source exists;
// returns false when nothing is left. Offsets into the source follow the narrowing.
bool clipBlit(Context* dst, int32_t& x, int32_t& y, int32_t& w, int32_t& h, Context* src,
              int32_t& sx, int32_t& sy) {
    if (!validContext(dst) || !validContext(src) || w <= 0 || h <= 0) return false;
    const Rect area = drawArea(dst);
    int64_t x0 = x, y0 = y, x1 = int64_t(x) + w, y1 = int64_t(y) + h;
    int64_t sx0 = sx, sy0 = sy;
    auto narrowLow = [](int64_t& a, int64_t& s, int64_t limit) {
        if (a < limit) {
            s += limit - a;
            a = limit;
        }
    };
    narrowLow(x0, sx0, area.left);
    narrowLow(y0, sy0, area.top);
    x1 = std::min<int64_t>(x1, area.right);
    y1 = std::min<int64_t>(y1, area.bottom);
    // Source bounds.
    if (sx0 < 0) {
        x0 -= sx0;
        sx0 = 0;
    }
    if (sy0 < 0) {
        y0 -= sy0;
        sy0 = 0;
    }
    x1 = std::min<int64_t>(x1, x0 + (src->bitmap->width - sx0));
    y1 = std::min<int64_t>(y1, y0 + (src->bitmap->height - sy0));
    if (x1 <= x0 || y1 <= y0) return false;
    x = static_cast<int32_t>(x0);
    y = static_cast<int32_t>(y0);
    w = static_cast<int32_t>(x1 - x0);
    h = static_cast<int32_t>(y1 - y0);
    sx = static_cast<int32_t>(sx0);
    sy = static_cast<int32_t>(sy0);
    return true;
}

uint32_t readRaw(const Bitmap* b, int32_t x, int32_t y) {
    return b->mono ? b->bits[static_cast<size_t>(y) * b->width + x]
                   : b->pixels[static_cast<size_t>(y) * b->stride + x] & kRgbMask;
}
void writeRaw(Bitmap* b, int32_t x, int32_t y, uint32_t v) {
    if (b->mono) b->bits[static_cast<size_t>(y) * b->width + x] = static_cast<uint8_t>(v & 1u);
    else b->pixels[static_cast<size_t>(y) * b->stride + x] = v & kRgbMask;
}

}  // namespace

namespace {

void bitBltDevice(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                  int32_t sx, int32_t sy, BlitOp op) {
    if (!clipBlit(dst, x, y, w, h, src, sx, sy)) return;
    Bitmap* db = dst->bitmap;
    const Bitmap* sb = src->bitmap;
    // Colour to colour between two bitmaps (the background and every offscreen copy): whole rows
    // at a time, the same operation on the same masked values.
    if (sb != db && !sb->mono && !db->mono) {
        for (int32_t j = 0; j < h; ++j) {
            const uint32_t* from = sb->pixels + static_cast<size_t>(sy + j) * sb->stride + sx;
            uint32_t* to = db->pixels + static_cast<size_t>(y + j) * db->stride + x;
            if (op == BlitOp::srcCopy)
                for (int32_t i = 0; i < w; ++i) to[i] = from[i] & kRgbMask;
            else if (op == BlitOp::srcInvert)
                for (int32_t i = 0; i < w; ++i) to[i] = (to[i] ^ from[i]) & kRgbMask;
            else
                for (int32_t i = 0; i < w; ++i) to[i] = to[i] & from[i] & kRgbMask;
        }
        addDamage(db, {x, y, x + w, y + h});
        return;
    }
    // Overlapping copies within one bitmap read from a snapshot.
    std::vector<uint32_t> snapshot;
    const bool same = sb == db;
    if (same) {
        snapshot.resize(static_cast<size_t>(w) * h);
        for (int32_t j = 0; j < h; ++j)
            for (int32_t i = 0; i < w; ++i)
                snapshot[static_cast<size_t>(j) * w + i] = convertPixel(dst, src, sx + i, sy + j);
    }
    for (int32_t j = 0; j < h; ++j) {
        for (int32_t i = 0; i < w; ++i) {
            const uint32_t s = same ? snapshot[static_cast<size_t>(j) * w + i]
                                    : convertPixel(dst, src, sx + i, sy + j);
            const uint32_t d = readRaw(db, x + i, y + j);
            uint32_t r = s;
            if (op == BlitOp::srcInvert) r = d ^ s;
            else if (op == BlitOp::srcAnd) r = d & s;
            writeRaw(db, x + i, y + j, r);
        }
    }
    addDamage(db, {x, y, x + w, y + h});
}

// Maps each destination pixel of a stretched copy to its source pixel (nearest sample), or does
// a plain per-pixel copy when the sizes agree; fn(dx, dy, sourcePixelInDstTerms).
template <typename Fn>
void forEachMapped(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                   int32_t sx, int32_t sy, int32_t sw, int32_t sh, Fn&& fn) {
    if (!validContext(dst) || !validContext(src) || w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
    const Rect area = drawArea(dst);
    const Rect target = intersect(
        area, Rect{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t(x) + w, INT32_MAX)),
                   static_cast<int32_t>(std::min<int64_t>(int64_t(y) + h, INT32_MAX))});
    for (int32_t py = target.top; py < target.bottom; ++py) {
        const int64_t ty = sy + (int64_t(py - y) * sh) / h;
        if (ty < 0 || ty >= src->bitmap->height) continue;
        for (int32_t px = target.left; px < target.right; ++px) {
            const int64_t tx = sx + (int64_t(px - x) * sw) / w;
            if (tx < 0 || tx >= src->bitmap->width) continue;
            fn(px, py, convertPixel(dst, src, static_cast<int32_t>(tx), static_cast<int32_t>(ty)));
        }
    }
    addDamage(dst->bitmap, target);
}

// Coverage of source cells [s0, s1) (in source pixels, fractional) per source index.
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
        const double lo = std::max<double>(s0, i), hi = std::min<double>(s1, i + 1);
        sp.weights.push_back(std::max(0.0, hi - lo));
    }
    return sp;
}

void stretchBltDevice(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                      int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
    if (!validContext(dst) || !validContext(src) || w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
    if (w == sw && h == sh) {
        bitBltDevice(dst, x, y, w, h, src, sx, sy, BlitOp::srcCopy);
        return;
    }
    const bool colour = !dst->bitmap->mono && !src->bitmap->mono;
    if (dst->stretch != StretchMode::halftone || !colour) {
        forEachMapped(
            dst, x, y, w, h, src, sx, sy, sw, sh,
            [&](int32_t px, int32_t py, uint32_t s) { writeRaw(dst->bitmap, px, py, s); });
        return;
    }
    // Halftone: every destination pixel is the area-weighted mean of the source pixels it covers.
    const Rect target =
        intersect(drawArea(dst),
                  Rect{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t(x) + w, INT32_MAX)),
                       static_cast<int32_t>(std::min<int64_t>(int64_t(y) + h, INT32_MAX))});
    if (emptyRect(target)) return;
    const Bitmap* sb = src->bitmap;
    // Whole-number shrinks from inside the source (every knob's supersampled surface) give each
    // source pixel a weight of exactly 1: the same sums in integers, rounded as below, without
    // the weight tables.
    if (sw % w == 0 && sh % h == 0 && sx >= 0 && sy >= 0 && int64_t(sx) + sw <= sb->width &&
        int64_t(sy) + sh <= sb->height) {
        const int32_t kx = sw / w, ky = sh / h;
        const uint64_t total = uint64_t(kx) * uint64_t(ky);
        for (int32_t py = target.top; py < target.bottom; ++py) {
            const uint32_t* first = sb->pixels + (int64_t(sy) + int64_t(py - y) * ky) * sb->stride;
            uint32_t* out = dst->bitmap->pixels + static_cast<size_t>(py) * dst->bitmap->stride;
            for (int32_t px = target.left; px < target.right; ++px) {
                const int64_t left = int64_t(sx) + int64_t(px - x) * kx;
                uint64_t r = 0, g = 0, b = 0;
                for (int32_t j = 0; j < ky; ++j) {
                    const uint32_t* line = first + int64_t(j) * sb->stride + left;
                    for (int32_t i = 0; i < kx; ++i) {
                        r += (line[i] >> 16) & 0xFF;
                        g += (line[i] >> 8) & 0xFF;
                        b += line[i] & 0xFF;
                    }
                }
                // Rounded half up, as lround rounds these non-negative means (a sum over a
                // whole count is never a hair off a half).
                out[px] = uint32_t((2 * r + total) / (2 * total)) << 16 |
                          uint32_t((2 * g + total) / (2 * total)) << 8 |
                          uint32_t((2 * b + total) / (2 * total));
            }
        }
        addDamage(dst->bitmap, target);
        return;
    }
    const double fx = double(sw) / w, fy = double(sh) / h;
    std::vector<Span> cols(static_cast<size_t>(target.right - target.left));
    for (int32_t px = target.left; px < target.right; ++px)
        cols[px - target.left] = spanFor(sx + (px - x) * fx, sx + (px - x + 1) * fx);
    for (int32_t py = target.top; py < target.bottom; ++py) {
        const Span row = spanFor(sy + (py - y) * fy, sy + (py - y + 1) * fy);
        for (int32_t px = target.left; px < target.right; ++px) {
            const Span& col = cols[px - target.left];
            double r = 0, g = 0, b = 0, total = 0;
            for (size_t j = 0; j < row.weights.size(); ++j) {
                const int64_t syy = int64_t(row.first) + j;
                if (syy < 0 || syy >= sb->height || row.weights[j] == 0) continue;
                const uint32_t* line = sb->pixels + static_cast<size_t>(syy) * sb->stride;
                for (size_t i = 0; i < col.weights.size(); ++i) {
                    const int64_t sxx = int64_t(col.first) + i;
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
            dst->bitmap->pixels[static_cast<size_t>(py) * dst->bitmap->stride + px] =
                pr << 16 | pg << 8 | pb;
        }
    }
    addDamage(dst->bitmap, target);
}

// Each side's rectangle in its own bitmap's device pixels.
struct Mapped {
    int32_t x, y, w, h, sx, sy, sw, sh;
};
Mapped mapBlit(const Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, const Context* src,
               int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
    const int32_t ds = scaleOf(dst), ss = scaleOf(src);
    return Mapped{up(x, ds),  up(y, ds),  up(w, ds),  up(h, ds),
                  up(sx, ss), up(sy, ss), up(sw, ss), up(sh, ss)};
}

}  // namespace

void bitBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src, int32_t sx,
            int32_t sy, BlitOp op) {
    const Mapped m = mapBlit(dst, x, y, w, h, src, sx, sy, w, h);
    if (scaleOf(dst) == scaleOf(src)) {
        bitBltDevice(dst, m.x, m.y, m.w, m.h, src, m.sx, m.sy, op);
        return;
    }
    // Between scales: each destination pixel takes its nearest source pixel, through the op.
    forEachMapped(dst, m.x, m.y, m.w, m.h, src, m.sx, m.sy, m.sw, m.sh,
                  [&](int32_t px, int32_t py, uint32_t s) {
                      const uint32_t d = readRaw(dst->bitmap, px, py);
                      uint32_t r = s;
                      if (op == BlitOp::srcInvert) r = d ^ s;
                      else if (op == BlitOp::srcAnd) r = d & s;
                      writeRaw(dst->bitmap, px, py, r);
                  });
}

void stretchBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh) {
    const Mapped m = mapBlit(dst, x, y, w, h, src, sx, sy, sw, sh);
    stretchBltDevice(dst, m.x, m.y, m.w, m.h, src, m.sx, m.sy, m.sw, m.sh);
}

bool transparentBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                    int32_t sx, int32_t sy, int32_t sw, int32_t sh, Color key) {
    if (!validContext(dst) || !validContext(src) || dst->bitmap->mono || src->bitmap->mono)
        return false;
    const uint32_t keyPixel = toPixel(key);
    const Mapped m = mapBlit(dst, x, y, w, h, src, sx, sy, sw, sh);
    forEachMapped(dst, m.x, m.y, m.w, m.h, src, m.sx, m.sy, m.sw, m.sh,
                  [&](int32_t px, int32_t py, uint32_t s) {
                      if (s != keyPixel) writeRaw(dst->bitmap, px, py, s);
                  });
    return true;
}

bool alphaBlend(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh, uint8_t alpha) {
    if (!validContext(dst) || !validContext(src) || dst->bitmap->mono || src->bitmap->mono)
        return false;
    const uint32_t a = alpha, na = 255u - alpha;
    const Mapped m = mapBlit(dst, x, y, w, h, src, sx, sy, sw, sh);
    forEachMapped(dst, m.x, m.y, m.w, m.h, src, m.sx, m.sy, m.sw, m.sh,
                  [&](int32_t px, int32_t py, uint32_t s) {
                      const uint32_t d = readRaw(dst->bitmap, px, py);
                      uint32_t out = 0;
                      for (int shift = 0; shift <= 16; shift += 8) {
                          const uint32_t sc = (s >> shift) & 0xFF, dc = (d >> shift) & 0xFF;
                          out |= ((sc * a + dc * na + 127) / 255) << shift;
                      }
                      writeRaw(dst->bitmap, px, py, out);
                  });
    return true;
}

OptionalBlits bindOptionalBlits() {
    OptionalBlits b;
    b.alphaBlend = &alphaBlend;
    b.transparentBlt = &transparentBlt;
    return b;
}

void unbindOptionalBlits(OptionalBlits* blits) {
    if (blits) *blits = OptionalBlits{};
}

}  // namespace platform
