// The raster: device contexts over plain pixel buffers. cairo renders curves, wide pens and text
// into coverage masks; everything with exact pixel rules (one-pixel lines, fills, bitwise block
// transfers, masks, flood fill, halftone shrink, pixel access) is our own code.
#include "raster_internal.h"
#include "resource.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <tuple>

namespace platform {

// ---- Objects ---------------------------------------------------------------------------------

struct Pen {
    PenDesc desc;
    bool stock = false;
};
struct Brush {
    Color color = 0;
    bool null = false;
    bool stock = false;
};
struct Font {
    FontDesc desc;
    bool stock = false;
    bool symbol = false;
    cairo_scaled_font_t* scaled = nullptr;
    int32_t ascent = 0, descent = 0;
    double em = 12.0;
};
struct Context {
    Bitmap* bitmap = nullptr;
    Bitmap* stockBitmap = nullptr;  // the 1 x 1 monochrome bitmap a fresh context holds
    Pen* pen = nullptr;
    Brush* brush = nullptr;
    Font* font = nullptr;
    Color textColor = 0;
    Color bkColor = 0xFFFFFF;
    BkMode bkMode = BkMode::opaque;
    Rop2 rop = Rop2::copyPen;
    StretchMode stretch = StretchMode::colorOnColor;
    Point current;
    bool hasClip = false;
    Rect clip;
};

namespace {

constexpr uint32_t kRgbMask = 0x00FFFFFFu;

// COLORREF-style colour <-> stored pixel: the two differ only in the order of red and blue.
uint32_t toPixel(Color c) { return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu); }
Color fromPixel(uint32_t p) { return toPixel(p & kRgbMask); }

uint32_t monoBit(Color c) {
    const uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    return (r * 30 + g * 59 + b * 11) >= 128 * 100 ? 1u : 0u;
}

Rect intersect(const Rect& a, const Rect& b) {
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}
bool emptyRect(const Rect& r) { return r.left >= r.right || r.top >= r.bottom; }

void addDamage(Bitmap* b, const Rect& r) {
    if (emptyRect(r)) return;
    if (emptyRect(b->damage)) {
        b->damage = r;
        return;
    }
    b->damage.left = std::min(b->damage.left, r.left);
    b->damage.top = std::min(b->damage.top, r.top);
    b->damage.right = std::max(b->damage.right, r.right);
    b->damage.bottom = std::max(b->damage.bottom, r.bottom);
}

// Where drawing may land: the bitmap, narrowed by the clip.
Rect drawArea(const Context* c) {
    Rect r{0, 0, c->bitmap->width, c->bitmap->height};
    return c->hasClip ? intersect(r, c->clip) : r;
}

// Reads a pixel as colour (monochrome: black or white). Caller checks bounds.
uint32_t readPixel(const Bitmap* b, int32_t x, int32_t y) {
    if (b->mono) return b->bits[static_cast<size_t>(y) * b->width + x] ? kRgbMask : 0;
    return b->pixels[static_cast<size_t>(y) * b->stride + x] & kRgbMask;
}

// Applies the pen's raster operation at one pixel known to be inside drawArea.
void plotRop(Context* c, int32_t x, int32_t y, Color color) {
    Bitmap* b = c->bitmap;
    if (b->mono) {
        uint8_t& d = b->bits[static_cast<size_t>(y) * b->width + x];
        const uint8_t p = static_cast<uint8_t>(monoBit(color));
        switch (c->rop) {
        case Rop2::copyPen: d = p; break;
        case Rop2::mergePen: d = d | p; break;
        case Rop2::notXorPen: d = (~(d ^ p)) & 1u; break;
        }
        return;
    }
    uint32_t& d = b->pixels[static_cast<size_t>(y) * b->stride + x];
    const uint32_t p = toPixel(color);
    switch (c->rop) {
    case Rop2::copyPen: d = p; break;
    case Rop2::mergePen: d = (d | p) & kRgbMask; break;
    case Rop2::notXorPen: d = (~(d ^ p)) & kRgbMask; break;
    }
}

void storePixel(Bitmap* b, int32_t x, int32_t y, uint32_t rgbPixel) {
    if (b->mono)
        b->bits[static_cast<size_t>(y) * b->width + x] =
            static_cast<uint8_t>(monoBit(fromPixel(rgbPixel)));
    else
        b->pixels[static_cast<size_t>(y) * b->stride + x] = rgbPixel & kRgbMask;
}

bool inside(const Rect& r, int32_t x, int32_t y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

Pen gStockBlackPen{PenDesc{}, true};
Pen gStockNullPen{PenDesc{PenStyle::null, 1, 0, false, LineCap::round, LineJoin::round}, true};
Brush gStockWhiteBrush{0xFFFFFF, false, true};
Brush gStockNullBrush{0, true, true};

bool validContext(const Context* c) { return c && c->bitmap; }

bool sizeOk(int32_t w, int32_t h) {
    return w > 0 && h > 0 && w <= kMaxBitmapSide && h <= kMaxBitmapSide;
}

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

Bitmap* wrapPixels(uint32_t* pixels, int32_t width, int32_t height, int32_t stride) {
    if (!pixels || !sizeOk(width, height) || stride < width) return nullptr;
    auto* b = new (std::nothrow) Bitmap;
    if (!b) return nullptr;
    b->width = width;
    b->height = height;
    b->pixels = pixels;
    b->stride = stride;
    return b;
}

Bitmap* createCompatibleBitmap(Context* context, int32_t width, int32_t height) {
    if (context && context->bitmap && context->bitmap->mono)
        return createMonoBitmap(width, height);
    return createBitmap(width, height);
}

void deleteBitmap(Bitmap* bitmap) {
    if (!bitmap) return;
    if (bitmap->selectedBy) {
        bitmap->deletePending = true;
        return;
    }
    delete bitmap;
}

int32_t bitmapWidth(const Bitmap* bitmap) { return bitmap ? bitmap->width : 0; }
int32_t bitmapHeight(const Bitmap* bitmap) { return bitmap ? bitmap->height : 0; }
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

// ---- Bitmap files ----------------------------------------------------------------------------

namespace {
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
}  // namespace

Bitmap* decodeBmp(const uint8_t* data, std::size_t size) {
    if (!data || size < 16) return nullptr;
    std::size_t base = 0;  // start of the info header
    std::size_t pixelOffset = 0;
    if (data[0] == 'B' && data[1] == 'M') {
        base = 14;
        pixelOffset = le32(data + 10);
    }
    if (size < base + 12) return nullptr;
    const uint32_t headerSize = le32(data + base);
    if (headerSize < 12 || headerSize > size - base) return nullptr;
    int64_t width = 0, height = 0;
    uint32_t bpp = 0, compression = 0, colorsUsed = 0;
    uint32_t paletteEntrySize = 4;
    if (headerSize == 12) {
        width = le16(data + base + 4);
        height = static_cast<int16_t>(le16(data + base + 6));
        bpp = le16(data + base + 10);
        paletteEntrySize = 3;
    } else {
        if (headerSize < 40) return nullptr;
        width = static_cast<int32_t>(le32(data + base + 4));
        height = static_cast<int32_t>(le32(data + base + 8));
        bpp = le16(data + base + 14);
        compression = le32(data + base + 16);
        colorsUsed = le32(data + base + 32);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide)
        return nullptr;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return nullptr;
    // Uncompressed only; 32-bit bitfields are accepted in their usual order.
    if (compression != 0 && !(compression == 3 && bpp == 32)) return nullptr;
    std::size_t paletteCount = 0;
    if (bpp <= 8) {
        paletteCount = colorsUsed ? colorsUsed : (1u << bpp);
        if (paletteCount > (1u << bpp)) return nullptr;
    }
    std::size_t paletteStart = base + headerSize;
    if (compression == 3 && headerSize == 40) paletteStart += 12;  // the three masks
    const std::size_t paletteBytes = paletteCount * paletteEntrySize;
    if (paletteStart > size || paletteBytes > size - paletteStart) return nullptr;
    if (pixelOffset == 0) pixelOffset = paletteStart + paletteBytes;
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
    if (pixelOffset > size || rowBytes * static_cast<std::size_t>(height) > size - pixelOffset)
        return nullptr;

    Bitmap* b = createBitmap(static_cast<int32_t>(width), static_cast<int32_t>(height));
    if (!b) return nullptr;
    auto paletteColor = [&](std::size_t index) -> uint32_t {
        if (index >= paletteCount) return 0;
        const uint8_t* e = data + paletteStart + index * paletteEntrySize;
        return uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    };
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* src = data + pixelOffset + rowBytes * static_cast<std::size_t>(row);
        const int64_t y = topDown ? row : height - 1 - row;
        uint32_t* dst = b->pixels + static_cast<std::size_t>(y) * b->stride;
        for (int64_t x = 0; x < width; ++x) {
            switch (bpp) {
            case 32: dst[x] = le32(src + x * 4) & kRgbMask; break;
            case 24:
                dst[x] = uint32_t(src[x * 3 + 2]) << 16 | uint32_t(src[x * 3 + 1]) << 8 |
                         src[x * 3];
                break;
            case 8: dst[x] = paletteColor(src[x]); break;
            case 4: dst[x] = paletteColor((src[x / 2] >> ((x & 1) ? 0 : 4)) & 0xF); break;
            default: dst[x] = paletteColor((src[x / 8] >> (7 - (x & 7))) & 1); break;
            }
        }
    }
    return b;
}

Bitmap* loadBitmapResource(void* module, int32_t id) {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!findResource(module, kResourceBitmap, id, &data, &size)) return nullptr;
    return decodeBmp(data, size);
}

bool writePng(Bitmap* bitmap, const char* path) {
    if (!bitmap || !path) return false;
    cairo_surface_t* s =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, bitmap->width, bitmap->height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return false;
    }
    cairo_surface_flush(s);
    auto* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    const int32_t outStride = cairo_image_surface_get_stride(s) / 4;
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < bitmap->width; ++x)
            out[static_cast<size_t>(y) * outStride + x] = readPixel(bitmap, x, y);
    cairo_surface_mark_dirty(s);
    const bool ok = cairo_surface_write_to_png(s, path) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

// ---- Contexts --------------------------------------------------------------------------------

namespace {
Font* stockFont();

void releaseSelection(Bitmap* b) {
    if (!b) return;
    b->selectedBy = nullptr;
    if (b->deletePending) delete b;
}
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

void deleteContext(Context* context) {
    if (!context) return;
    if (context->bitmap != context->stockBitmap) releaseSelection(context->bitmap);
    delete context->stockBitmap;
    delete context;
}

Bitmap* selectBitmap(Context* context, Bitmap* bitmap) {
    if (!context || !bitmap) return nullptr;
    // A bitmap lives in one context at a time.
    if (bitmap->selectedBy && bitmap->selectedBy != context) return nullptr;
    Bitmap* old = context->bitmap;
    if (old == bitmap) return old;
    if (old) old->selectedBy = nullptr;
    context->bitmap = bitmap;
    bitmap->selectedBy = context;
    if (old && old->deletePending) {
        delete old;
        return nullptr;
    }
    return old;
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
    if (clip) c->clip = *clip;
}

// ---- Fonts -----------------------------------------------------------------------------------

namespace {

// Font faces are matched once per (face, weight, slant) and kept for the life of the process;
// the rendering settings are pinned here so that text looks the same on every machine,
// whatever the user's fontconfig preferences.
std::mutex gFaceMutex;
std::map<std::tuple<std::string, int, bool>, cairo_font_face_t*>& faceCache() {
    static auto* cache = new std::map<std::tuple<std::string, int, bool>, cairo_font_face_t*>;
    return *cache;
}

cairo_font_face_t* matchFace(const std::string& family, int weight, bool italic) {
    std::lock_guard<std::mutex> lock(gFaceMutex);
    auto key = std::make_tuple(family, weight >= 600 ? 700 : 400, italic);
    auto& cache = faceCache();
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return nullptr;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return nullptr;
    FcPatternDel(match, FC_ANTIALIAS);
    FcPatternAddBool(match, FC_ANTIALIAS, FcTrue);
    FcPatternDel(match, FC_HINTING);
    FcPatternAddBool(match, FC_HINTING, FcTrue);
    FcPatternDel(match, FC_HINT_STYLE);
    FcPatternAddInteger(match, FC_HINT_STYLE, FC_HINT_FULL);
    FcPatternDel(match, FC_AUTOHINT);
    FcPatternAddBool(match, FC_AUTOHINT, FcFalse);
    FcPatternDel(match, FC_RGBA);
    FcPatternAddInteger(match, FC_RGBA, FC_RGBA_NONE);
    FcPatternDel(match, FC_EMBEDDED_BITMAP);
    FcPatternAddBool(match, FC_EMBEDDED_BITMAP, FcFalse);
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(match);
    FcPatternDestroy(match);
    if (cairo_font_face_status(face) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(face);
        return nullptr;
    }
    cache[key] = face;
    return face;
}

cairo_font_options_t* pinnedOptions() {
    cairo_font_options_t* o = cairo_font_options_create();
    cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_ON);
    cairo_font_options_set_subpixel_order(o, CAIRO_SUBPIXEL_ORDER_DEFAULT);
    return o;
}

cairo_scaled_font_t* scaledFont(cairo_font_face_t* face, double em) {
    cairo_matrix_t fontMatrix, ctm;
    cairo_matrix_init_scale(&fontMatrix, em, em);
    cairo_matrix_init_identity(&ctm);
    cairo_font_options_t* o = pinnedOptions();
    cairo_scaled_font_t* sf = cairo_scaled_font_create(face, &fontMatrix, &ctm, o);
    cairo_font_options_destroy(o);
    if (cairo_scaled_font_status(sf) != CAIRO_STATUS_SUCCESS) {
        cairo_scaled_font_destroy(sf);
        return nullptr;
    }
    return sf;
}

bool fillFont(Font* f) {
    const FontDesc& d = f->desc;
    std::string family = d.face && *d.face ? d.face : "Arial";
    if (family.size() > 64) family.resize(64);
    f->symbol = (d.pitchAndFamily & 0xF0) == 0x50 || family == "Symbol";
    cairo_font_face_t* face = matchFace(family, d.weight, d.italic);
    if (!face) return false;
    int32_t h = d.height == 0 ? -12 : d.height;
    h = std::clamp(h, -2048, 2048);
    double em = h < 0 ? -h : h;
    if (h > 0) {
        // A cell height: find the em size whose ascent + descent fill it.
        cairo_scaled_font_t* probe = scaledFont(face, 100.0);
        if (!probe) return false;
        cairo_font_extents_t e;
        cairo_scaled_font_extents(probe, &e);
        cairo_scaled_font_destroy(probe);
        const double cell = e.ascent + e.descent;
        if (cell > 0) em = h * 100.0 / cell;
    }
    if (em < 1.0) em = 1.0;
    f->em = em;
    f->scaled = scaledFont(face, em);
    if (!f->scaled) return false;
    cairo_font_extents_t e;
    cairo_scaled_font_extents(f->scaled, &e);
    f->ascent = static_cast<int32_t>(std::lround(e.ascent));
    f->descent = static_cast<int32_t>(std::lround(e.descent));
    // A requested cell height is met exactly, whatever the rounding of its two parts.
    if (h > 0) f->descent = std::max(0, h - f->ascent);
    return true;
}

Font* stockFont() {
    // The system font: bold Arial of 12 pixels, made once.
    static Font* font = [] {
        auto* f = new Font;
        f->stock = true;
        f->desc.height = -12;
        f->desc.weight = 700;
        fillFont(f);
        return f;
    }();
    return font;
}

// Symbol-encoded letters as the Greek characters a symbol font shows for them.
const char* symbolGreek(unsigned char ch) {
    static const char* const upper[26] = {"Α", "Β", "Χ", "Δ", "Ε", "Φ", "Γ", "Η", "Ι",
                                          "ϑ", "Κ", "Λ", "Μ", "Ν", "Ο", "Π", "Θ", "Ρ",
                                          "Σ", "Τ", "Υ", "ς", "Ω", "Ξ", "Ψ", "Ζ"};
    static const char* const lower[26] = {"α", "β", "χ", "δ", "ε", "φ", "γ", "η", "ι",
                                          "ϕ", "κ", "λ", "μ", "ν", "ο", "π", "θ", "ρ",
                                          "σ", "τ", "υ", "ϖ", "ω", "ξ", "ψ", "ζ"};
    if (ch >= 'A' && ch <= 'Z') return upper[ch - 'A'];
    if (ch >= 'a' && ch <= 'z') return lower[ch - 'a'];
    return nullptr;
}

bool validUtf8(const unsigned char* s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

std::string toUtf8(const char* text, bool symbol) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const std::size_t n = strnlen(text, kMaxTextBytes);
    std::string out;
    out.reserve(n * 2);
    const bool utf8 = !symbol && validUtf8(s, n);
    if (utf8) return std::string(text, n);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = s[i];
        if (symbol) {
            if (const char* g = symbolGreek(c)) {
                out += g;
                continue;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

Font* createFont(const FontDesc& desc) {
    auto* f = new (std::nothrow) Font;
    if (!f) return nullptr;
    f->desc = desc;
    if (!fillFont(f)) {
        if (f->scaled) cairo_scaled_font_destroy(f->scaled);
        delete f;
        return nullptr;
    }
    f->desc.face = nullptr;  // not kept: the caller's string may go away
    return f;
}

void deleteFont(Font* font) {
    if (!font || font->stock) return;
    if (font->scaled) cairo_scaled_font_destroy(font->scaled);
    delete font;
}

Font* selectFont(Context* context, Font* font) {
    if (!context || !font) return nullptr;
    Font* old = context->font;
    context->font = font;
    return old;
}

// ---- Lines -----------------------------------------------------------------------------------

namespace {

bool thinPen(const Pen* p) { return p->desc.width <= 1; }

// The dotted pattern: three pixels on, three off. Gaps take the background colour when the
// background mode is opaque.
void plotStyled(Context* c, const Rect& area, int32_t x, int32_t y, int64_t step) {
    if (!inside(area, x, y)) return;
    const Pen* p = c->pen;
    if (p->desc.style == PenStyle::dotted && (step % 6) >= 3) {
        if (c->bkMode == BkMode::opaque) plotRop(c, x, y, c->bkColor);
        return;
    }
    plotRop(c, x, y, p->desc.color);
}

// One-pixel line from a to b, end pixel excluded. Pixels are computed in closed form along the
// major axis so that only the steps inside the drawing area are visited, however long the line.
void thinLine(Context* c, Point a, Point b, int64_t* phase) {
    const Rect area = drawArea(c);
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
    int64_t i0, i1;
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

// Renders a cairo path into a coverage mask over the drawing area and applies it with the
// pen's or brush's colour through the raster operation. Hard-edged: no anti-aliasing.
template <typename PathFn>
void maskDraw(Context* c, Color color, bool useRop, PathFn&& path) {
    const Rect area = drawArea(c);
    if (emptyRect(area)) return;
    const int32_t w = area.right - area.left, h = area.bottom - area.top;
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
    if (cairo_surface_status(mask) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(mask);
        return;
    }
    cairo_t* cr = cairo_create(mask);
    cairo_translate(cr, -area.left, -area.top);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    path(cr);
    cairo_destroy(cr);
    cairo_surface_flush(mask);
    const uint8_t* m = cairo_image_surface_get_data(mask);
    const int32_t ms = cairo_image_surface_get_stride(mask);
    const Rop2 saved = c->rop;
    if (!useRop) c->rop = Rop2::copyPen;
    Rect touched{area.right, area.bottom, area.left, area.top};
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = m + static_cast<size_t>(y) * ms;
        for (int32_t x = 0; x < w; ++x) {
            if (row[x] < 128) continue;
            plotRop(c, area.left + x, area.top + y, color);
            touched.left = std::min(touched.left, area.left + x);
            touched.right = std::max(touched.right, area.left + x + 1);
            touched.top = std::min(touched.top, area.top + y);
            touched.bottom = std::max(touched.bottom, area.top + y + 1);
        }
    }
    c->rop = saved;
    addDamage(c->bitmap, touched);
    cairo_surface_destroy(mask);
}

void applyPenStroke(Context* c, cairo_t* cr) {
    const PenDesc& d = c->pen->desc;
    cairo_set_line_width(cr, std::max(1, d.width));
    LineCap cap = d.geometric ? d.cap : LineCap::round;
    LineJoin join = d.geometric ? d.join : LineJoin::round;
    cairo_set_line_cap(cr, cap == LineCap::flat     ? CAIRO_LINE_CAP_BUTT
                           : cap == LineCap::square ? CAIRO_LINE_CAP_SQUARE
                                                    : CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, join == LineJoin::bevel   ? CAIRO_LINE_JOIN_BEVEL
                            : join == LineJoin::miter ? CAIRO_LINE_JOIN_MITER
                                                      : CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

// Coordinates far outside any surface are pulled in so cairo's fixed-point arithmetic holds;
// the visible part of a shape that large is not meaningful anyway.
double clampCoord(double v) { return std::clamp(v, -1.0e6, 1.0e6); }

void damageRect(Context* c, int64_t l, int64_t t, int64_t r, int64_t b) {
    const Rect area = drawArea(c);
    Rect rr{static_cast<int32_t>(std::clamp<int64_t>(l, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(t, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(b, INT32_MIN, INT32_MAX))};
    addDamage(c->bitmap, intersect(rr, area));
}

}  // namespace

void moveTo(Context* c, Point p) {
    if (c) c->current = p;
}
Point currentPosition(Context* c) { return c ? c->current : Point{}; }

void lineTo(Context* c, Point p) {
    if (!validContext(c)) return;
    const Point a = c->current;
    c->current = p;
    if (c->pen->desc.style == PenStyle::null) return;
    if (thinPen(c->pen)) {
        int64_t phase = 0;
        thinLine(c, a, p, &phase);
        damageRect(c, std::min(a.x, p.x), std::min(a.y, p.y), int64_t(std::max(a.x, p.x)) + 1,
                   int64_t(std::max(a.y, p.y)) + 1);
        return;
    }
    maskDraw(c, c->pen->desc.color, true, [&](cairo_t* cr) {
        cairo_move_to(cr, clampCoord(a.x + 0.5), clampCoord(a.y + 0.5));
        cairo_line_to(cr, clampCoord(p.x + 0.5), clampCoord(p.y + 0.5));
        applyPenStroke(c, cr);
    });
}

void polyline(Context* c, const Point* pts, int32_t n) {
    if (!validContext(c) || !pts || n < 2 || c->pen->desc.style == PenStyle::null) return;
    if (thinPen(c->pen)) {
        int64_t phase = 0;
        for (int32_t i = 1; i < n; ++i) {
            thinLine(c, pts[i - 1], pts[i], &phase);
            damageRect(c, std::min(pts[i - 1].x, pts[i].x), std::min(pts[i - 1].y, pts[i].y),
                       int64_t(std::max(pts[i - 1].x, pts[i].x)) + 1,
                       int64_t(std::max(pts[i - 1].y, pts[i].y)) + 1);
        }
        return;
    }
    maskDraw(c, c->pen->desc.color, true, [&](cairo_t* cr) {
        cairo_move_to(cr, clampCoord(pts[0].x + 0.5), clampCoord(pts[0].y + 0.5));
        for (int32_t i = 1; i < n; ++i)
            cairo_line_to(cr, clampCoord(pts[i].x + 0.5), clampCoord(pts[i].y + 0.5));
        applyPenStroke(c, cr);
    });
}

void polygon(Context* c, const Point* pts, int32_t n) {
    if (!validContext(c) || !pts || n < 2) return;
    if (!c->brush->null && n >= 3) {
        maskDraw(c, c->brush->color, true, [&](cairo_t* cr) {
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
            cairo_move_to(cr, clampCoord(pts[0].x), clampCoord(pts[0].y));
            for (int32_t i = 1; i < n; ++i) cairo_line_to(cr, clampCoord(pts[i].x), clampCoord(pts[i].y));
            cairo_close_path(cr);
            cairo_fill(cr);
        });
    }
    if (c->pen->desc.style == PenStyle::null) return;
    if (thinPen(c->pen)) {
        int64_t phase = 0;
        for (int32_t i = 0; i < n; ++i) {
            const Point a = pts[i], b = pts[(i + 1) % n];
            thinLine(c, a, b, &phase);
            damageRect(c, std::min(a.x, b.x), std::min(a.y, b.y), int64_t(std::max(a.x, b.x)) + 1,
                       int64_t(std::max(a.y, b.y)) + 1);
        }
        return;
    }
    maskDraw(c, c->pen->desc.color, true, [&](cairo_t* cr) {
        cairo_move_to(cr, clampCoord(pts[0].x + 0.5), clampCoord(pts[0].y + 0.5));
        for (int32_t i = 1; i < n; ++i)
            cairo_line_to(cr, clampCoord(pts[i].x + 0.5), clampCoord(pts[i].y + 0.5));
        cairo_close_path(cr);
        applyPenStroke(c, cr);
    });
}

void fillRect(Context* c, const Rect& rect, Brush* brush) {
    if (!validContext(c) || !brush || brush->null) return;
    const Rect r = intersect(drawArea(c), rect);
    if (emptyRect(r)) return;
    Bitmap* b = c->bitmap;
    if (b->mono) {
        const uint8_t bit = static_cast<uint8_t>(monoBit(brush->color));
        for (int32_t y = r.top; y < r.bottom; ++y)
            std::fill_n(&b->bits[static_cast<size_t>(y) * b->width + r.left], r.right - r.left, bit);
    } else {
        const uint32_t p = toPixel(brush->color);
        for (int32_t y = r.top; y < r.bottom; ++y)
            std::fill_n(&b->pixels[static_cast<size_t>(y) * b->stride + r.left], r.right - r.left, p);
    }
    addDamage(b, r);
}

// ---- Ellipses and arcs -----------------------------------------------------------------------

namespace {

constexpr double kPi = 3.14159265358979323846;

// The screen angle (counter-clockwise, radians) of the ray from the centre through p.
double rayAngle(double cx, double cy, Point p) {
    const double dx = p.x + 0.5 - cx, dy = cy - (p.y + 0.5);
    if (dx == 0 && dy == 0) return 0;
    return std::atan2(dy, dx);
}

// The ellipse parameter whose point lies on the ray at screen angle phi.
double paramForAngle(double a, double b, double phi) {
    return std::atan2(a * std::sin(phi), b * std::cos(phi));
}

// One-pixel outline of the ellipse with centre (cx, cy) and radii (a, b) between pixel centres,
// from parameter t0 over sweep (screen counter-clockwise when positive). The samples are dense
// enough never to skip a pixel; corners that 8-connectivity makes redundant are dropped.
void thinArc(Context* c, double cx, double cy, double a, double b, double t0, double sweep) {
    const Rect area = drawArea(c);
    if (emptyRect(area)) return;
    a = std::min(std::max(a, 0.0), 1.0e6);
    b = std::min(std::max(b, 0.0), 1.0e6);
    const double step = 0.25 / std::max({a, b, 1.0});
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(std::fabs(sweep) / step) + 1, 50'000'000);
    std::vector<Point> pts;
    pts.reserve(static_cast<size_t>(std::min<int64_t>(n, 100000)) + 1);
    auto at = [&](int64_t i) {
        const double t = t0 + sweep * static_cast<double>(i) / static_cast<double>(n);
        const double x = cx + a * std::cos(t) - 0.5, y = cy - b * std::sin(t) - 0.5;
        return Point{static_cast<int32_t>(std::lround(x)), static_cast<int32_t>(std::lround(y))};
    };
    for (int64_t i = 0; i <= n; ++i) {
        const Point p = at(i);
        if (!pts.empty() && pts.back().x == p.x && pts.back().y == p.y) continue;
        // Drop the corner pixel of an L step: its neighbours already touch diagonally.
        if (pts.size() >= 2) {
            const Point q = pts[pts.size() - 2];
            if (std::abs(q.x - p.x) <= 1 && std::abs(q.y - p.y) <= 1) pts.back() = p;
            else pts.push_back(p);
        } else {
            pts.push_back(p);
        }
    }
    // A closed outline ends on its first pixel.
    if (pts.size() > 1 && pts.back().x == pts.front().x && pts.back().y == pts.front().y)
        pts.pop_back();
    int64_t phase = 0;
    Rect touched{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (const Point& p : pts) {
        plotStyled(c, area, p.x, p.y, phase++);
        touched.left = std::min(touched.left, p.x);
        touched.top = std::min(touched.top, p.y);
        touched.right = std::max(touched.right, p.x + 1);
        touched.bottom = std::max(touched.bottom, p.y + 1);
    }
    if (!pts.empty()) addDamage(c->bitmap, intersect(touched, area));
}

struct ArcGeometry {
    double cx, cy, rx, ry;  // continuous centre and radii of the box
    double t0, sweep;       // parameter start and counter-clockwise sweep
};

ArcGeometry arcGeometry(const Rect& box, Point from, Point to, bool full) {
    ArcGeometry g{};
    g.cx = (double(box.left) + box.right) / 2.0;
    g.cy = (double(box.top) + box.bottom) / 2.0;
    g.rx = std::fabs(double(box.right) - box.left) / 2.0;
    g.ry = std::fabs(double(box.bottom) - box.top) / 2.0;
    if (full) {
        g.t0 = 0;
        g.sweep = 2 * kPi;
        return g;
    }
    const double a = std::max(g.rx, 0.5), b = std::max(g.ry, 0.5);
    double t0 = paramForAngle(a, b, rayAngle(g.cx, g.cy, from));
    double t1 = paramForAngle(a, b, rayAngle(g.cx, g.cy, to));
    double sweep = t1 - t0;
    while (sweep <= 0) sweep += 2 * kPi;
    while (sweep > 2 * kPi) sweep -= 2 * kPi;
    g.t0 = t0;
    g.sweep = sweep;
    return g;
}

bool samePoint(Point a, Point b) { return a.x == b.x && a.y == b.y; }

void ellipsePath(cairo_t* cr, const ArcGeometry& g, bool pieSlice) {
    if (g.rx <= 0 || g.ry <= 0) return;
    cairo_save(cr);
    cairo_translate(cr, clampCoord(g.cx), clampCoord(g.cy));
    cairo_scale(cr, std::min(g.rx, 1.0e6), std::min(g.ry, 1.0e6));
    if (pieSlice) {
        cairo_move_to(cr, 0, 0);
        // Screen counter-clockwise is cairo's negative direction (y grows downwards).
        cairo_arc_negative(cr, 0, 0, 1, -g.t0, -g.t0 - g.sweep);
        cairo_close_path(cr);
    } else {
        cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
        cairo_close_path(cr);
    }
    cairo_restore(cr);
}

void strokeArc(Context* c, const ArcGeometry& g, bool closedPie) {
    if (c->pen->desc.style == PenStyle::null) return;
    if (thinPen(c->pen) && !closedPie) {
        thinArc(c, g.cx, g.cy, g.rx - 0.5, g.ry - 0.5, g.t0, g.sweep);
        return;
    }
    maskDraw(c, c->pen->desc.color, true, [&](cairo_t* cr) {
        ArcGeometry inner = g;
        inner.rx = std::max(g.rx - 0.5, 0.01);
        inner.ry = std::max(g.ry - 0.5, 0.01);
        cairo_save(cr);
        cairo_translate(cr, clampCoord(inner.cx), clampCoord(inner.cy));
        cairo_scale(cr, inner.rx, inner.ry);
        if (closedPie) cairo_move_to(cr, 0, 0);
        cairo_arc_negative(cr, 0, 0, 1, -inner.t0, -inner.t0 - inner.sweep);
        if (closedPie) cairo_close_path(cr);
        cairo_restore(cr);
        applyPenStroke(c, cr);
    });
}

}  // namespace

void ellipse(Context* c, const Rect& box) {
    if (!validContext(c)) return;
    const ArcGeometry g = arcGeometry(box, {}, {}, true);
    if (!c->brush->null)
        maskDraw(c, c->brush->color, true, [&](cairo_t* cr) {
            ellipsePath(cr, g, false);
            cairo_fill(cr);
        });
    strokeArc(c, g, false);
}

void arc(Context* c, const Rect& box, Point from, Point to) {
    if (!validContext(c)) return;
    strokeArc(c, arcGeometry(box, from, to, samePoint(from, to)), false);
}

void pie(Context* c, const Rect& box, Point from, Point to) {
    if (!validContext(c)) return;
    const bool full = samePoint(from, to);
    const ArcGeometry g = arcGeometry(box, from, to, full);
    if (!c->brush->null)
        maskDraw(c, c->brush->color, true, [&](cairo_t* cr) {
            ellipsePath(cr, g, !full);
            cairo_fill(cr);
        });
    strokeArc(c, g, !full);
}

void angleArc(Context* c, Point centre, int32_t radius, float startDegrees, float sweepDegrees) {
    if (!validContext(c) || radius < 0 || !std::isfinite(startDegrees) ||
        !std::isfinite(sweepDegrees))
        return;
    const double r = std::min<double>(radius, 1.0e6);
    const double s = startDegrees * kPi / 180.0;
    double sw = sweepDegrees * kPi / 180.0;
    sw = std::clamp(sw, -2 * kPi, 2 * kPi);
    const double cx = centre.x + 0.5, cy = centre.y + 0.5;
    const double ex = cx + r * std::cos(s + sw), ey = cy - r * std::sin(s + sw);
    const Point start{static_cast<int32_t>(std::lround(cx + r * std::cos(s) - 0.5)),
                      static_cast<int32_t>(std::lround(cy - r * std::sin(s) - 0.5))};
    const Point from = c->current;
    c->current = Point{static_cast<int32_t>(std::lround(ex - 0.5)),
                       static_cast<int32_t>(std::lround(ey - 0.5))};
    if (c->pen->desc.style == PenStyle::null) return;
    if (thinPen(c->pen)) {
        int64_t phase = 0;
        thinLine(c, from, start, &phase);
        damageRect(c, std::min(from.x, start.x), std::min(from.y, start.y),
                   int64_t(std::max(from.x, start.x)) + 1, int64_t(std::max(from.y, start.y)) + 1);
        if (sw != 0) thinArc(c, cx, cy, r, r, s, sw);
        return;
    }
    maskDraw(c, c->pen->desc.color, true, [&](cairo_t* cr) {
        cairo_move_to(cr, clampCoord(from.x + 0.5), clampCoord(from.y + 0.5));
        if (sw > 0)
            cairo_arc_negative(cr, clampCoord(cx), clampCoord(cy), r, -s, -s - sw);
        else if (sw < 0)
            cairo_arc(cr, clampCoord(cx), clampCoord(cy), r, -s, -s - sw);
        else
            cairo_line_to(cr, clampCoord(cx + r * std::cos(s)), clampCoord(cy - r * std::sin(s)));
        applyPenStroke(c, cr);
    });
}

// ---- Pixels ----------------------------------------------------------------------------------

Color setPixel(Context* c, Point p, Color color) {
    if (!validContext(c) || !inside(drawArea(c), p.x, p.y)) return kInvalidColor;
    storePixel(c->bitmap, p.x, p.y, toPixel(color));
    addDamage(c->bitmap, {p.x, p.y, p.x + 1, p.y + 1});
    return fromPixel(readPixel(c->bitmap, p.x, p.y));
}

Color getPixel(Context* c, Point p) {
    if (!validContext(c) || !inside(drawArea(c), p.x, p.y)) return kInvalidColor;
    return fromPixel(readPixel(c->bitmap, p.x, p.y));
}

void floodFillSurface(Context* c, Point p) {
    if (!validContext(c) || c->brush->null) return;
    const Rect area = drawArea(c);
    if (!inside(area, p.x, p.y)) return;
    Bitmap* b = c->bitmap;
    const uint32_t target = readPixel(b, p.x, p.y);
    const int32_t w = area.right - area.left, h = area.bottom - area.top;
    std::vector<uint8_t> seen(static_cast<size_t>(w) * h, 0);
    auto idx = [&](int32_t x, int32_t y) { return static_cast<size_t>(y - area.top) * w + (x - area.left); };
    auto matches = [&](int32_t x, int32_t y) { return !seen[idx(x, y)] && readPixel(b, x, y) == target; };
    const uint32_t paint = b->mono ? (monoBit(c->brush->color) ? kRgbMask : 0) : toPixel(c->brush->color);
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

// ---- Text ------------------------------------------------------------------------------------

namespace {
int32_t advance(Font* f, const std::string& utf8) {
    if (!f->scaled || utf8.empty()) return 0;
    cairo_text_extents_t e;
    cairo_scaled_font_text_extents(f->scaled, utf8.c_str(), &e);
    return static_cast<int32_t>(std::lround(e.x_advance));
}
}  // namespace

Size textExtent(Context* c, const char* text) {
    if (!c || !text || !c->font) return {};
    const std::string s = toUtf8(text, c->font->symbol);
    return {advance(c->font, s), c->font->ascent + c->font->descent};
}

void drawText(Context* c, const char* text, const Rect& rect, TextAlign align) {
    if (!validContext(c) || !text || !c->font || !c->font->scaled || c->bitmap->mono) return;
    Font* f = c->font;
    const std::string s = toUtf8(text, f->symbol);
    const int32_t width = advance(f, s);
    const int32_t cell = f->ascent + f->descent;
    int64_t x = rect.left;
    if (align == TextAlign::center) x = rect.left + (int64_t(rect.right) - rect.left - width) / 2;
    else if (align == TextAlign::right) x = int64_t(rect.right) - width;
    const int64_t top = rect.top + (int64_t(rect.bottom) - rect.top - cell) / 2;
    const Rect clip = intersect(drawArea(c), rect);
    if (emptyRect(clip)) return;
    if (c->bkMode == BkMode::opaque) {
        Brush bk{c->bkColor, false, true};
        const Rect cellRect{static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX)),
                            static_cast<int32_t>(std::clamp<int64_t>(top, INT32_MIN, INT32_MAX)),
                            static_cast<int32_t>(std::clamp<int64_t>(x + width, INT32_MIN, INT32_MAX)),
                            static_cast<int32_t>(std::clamp<int64_t>(top + cell, INT32_MIN, INT32_MAX))};
        const bool had = c->hasClip;
        const Rect saved = c->clip;
        c->hasClip = true;
        c->clip = clip;
        fillRect(c, cellRect, &bk);
        c->hasClip = had;
        c->clip = saved;
    }
    if (s.empty()) return;
    Bitmap* b = c->bitmap;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(b->pixels), CAIRO_FORMAT_RGB24, b->width, b->height,
        b->stride * 4);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_rectangle(cr, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top);
    cairo_clip(cr);
    const Color tc = c->textColor;
    cairo_set_source_rgb(cr, (tc & 0xFF) / 255.0, ((tc >> 8) & 0xFF) / 255.0, ((tc >> 16) & 0xFF) / 255.0);
    cairo_set_scaled_font(cr, f->scaled);
    const double baseline = static_cast<double>(top + f->ascent);
    cairo_move_to(cr, clampCoord(static_cast<double>(x)), clampCoord(baseline));
    cairo_show_text(cr, s.c_str());
    if (f->desc.underline) {
        const double thick = std::max(1.0, std::round(f->em / 14.0));
        const double y = baseline + std::max(1.0, std::round(f->em / 10.0));
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        cairo_rectangle(cr, clampCoord(static_cast<double>(x)), y, width, thick);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    addDamage(b, clip);
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
    if (sx0 < 0) { x0 -= sx0; sx0 = 0; }
    if (sy0 < 0) { y0 -= sy0; sy0 = 0; }
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

void bitBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src, int32_t sx,
            int32_t sy, BlitOp op) {
    if (!clipBlit(dst, x, y, w, h, src, sx, sy)) return;
    Bitmap* db = dst->bitmap;
    // Overlapping copies within one bitmap read from a snapshot.
    std::vector<uint32_t> snapshot;
    const bool same = src->bitmap == db;
    if (same) {
        snapshot.resize(static_cast<size_t>(w) * h);
        for (int32_t j = 0; j < h; ++j)
            for (int32_t i = 0; i < w; ++i)
                snapshot[static_cast<size_t>(j) * w + i] = convertPixel(dst, src, sx + i, sy + j);
    }
    for (int32_t j = 0; j < h; ++j) {
        for (int32_t i = 0; i < w; ++i) {
            const uint32_t s =
                same ? snapshot[static_cast<size_t>(j) * w + i] : convertPixel(dst, src, sx + i, sy + j);
            const uint32_t d = readRaw(db, x + i, y + j);
            uint32_t r = s;
            if (op == BlitOp::srcInvert) r = d ^ s;
            else if (op == BlitOp::srcAnd) r = d & s;
            writeRaw(db, x + i, y + j, r);
        }
    }
    addDamage(db, {x, y, x + w, y + h});
}

namespace {

// Maps each destination pixel of a stretched copy to its source pixel (nearest sample), or does
// a plain per-pixel copy when the sizes agree; fn(dx, dy, sourcePixelInDstTerms).
template <typename Fn>
void forEachMapped(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                   int32_t sx, int32_t sy, int32_t sw, int32_t sh, Fn&& fn) {
    if (!validContext(dst) || !validContext(src) || w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
    const Rect area = drawArea(dst);
    const Rect target = intersect(area, Rect{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t(x) + w, INT32_MAX)),
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

}  // namespace

void stretchBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
    if (!validContext(dst) || !validContext(src) || w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
    if (w == sw && h == sh) {
        bitBlt(dst, x, y, w, h, src, sx, sy, BlitOp::srcCopy);
        return;
    }
    const bool colour = !dst->bitmap->mono && !src->bitmap->mono;
    if (dst->stretch != StretchMode::halftone || !colour) {
        forEachMapped(dst, x, y, w, h, src, sx, sy, sw, sh,
                      [&](int32_t px, int32_t py, uint32_t s) { writeRaw(dst->bitmap, px, py, s); });
        return;
    }
    // Halftone: every destination pixel is the area-weighted mean of the source pixels it covers.
    const Rect target = intersect(drawArea(dst), Rect{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t(x) + w, INT32_MAX)),
                                                      static_cast<int32_t>(std::min<int64_t>(int64_t(y) + h, INT32_MAX))});
    if (emptyRect(target)) return;
    const double fx = double(sw) / w, fy = double(sh) / h;
    std::vector<Span> cols(static_cast<size_t>(target.right - target.left));
    for (int32_t px = target.left; px < target.right; ++px)
        cols[px - target.left] = spanFor(sx + (px - x) * fx, sx + (px - x + 1) * fx);
    const Bitmap* sb = src->bitmap;
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
            dst->bitmap->pixels[static_cast<size_t>(py) * dst->bitmap->stride + px] = pr << 16 | pg << 8 | pb;
        }
    }
    addDamage(dst->bitmap, target);
}

bool transparentBlt(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                    int32_t sx, int32_t sy, int32_t sw, int32_t sh, Color key) {
    if (!validContext(dst) || !validContext(src) || dst->bitmap->mono || src->bitmap->mono) return false;
    const uint32_t keyPixel = toPixel(key);
    forEachMapped(dst, x, y, w, h, src, sx, sy, sw, sh, [&](int32_t px, int32_t py, uint32_t s) {
        if (s != keyPixel) writeRaw(dst->bitmap, px, py, s);
    });
    return true;
}

bool alphaBlend(Context* dst, int32_t x, int32_t y, int32_t w, int32_t h, Context* src,
                int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint8_t alpha) {
    if (!validContext(dst) || !validContext(src) || dst->bitmap->mono || src->bitmap->mono) return false;
    const uint32_t a = alpha, na = 255u - alpha;
    forEachMapped(dst, x, y, w, h, src, sx, sy, sw, sh, [&](int32_t px, int32_t py, uint32_t s) {
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
