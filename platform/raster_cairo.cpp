// SPDX-License-Identifier: GPL-3.0-or-later
// The raster's cairo-backed part: font matching and text, and the shapes cairo renders into
// coverage masks (wide pens, polygons, ellipses and arcs) that are then applied with our own
// pixel rules. One-pixel outlines are drawn by raster_pixels.cpp's line code.
#include "raster_pixels.h"
#include "utf8.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <tuple>

namespace platform {

using namespace pixels;

struct Font {
    FontDesc desc;
    bool stock = false;
    bool symbol = false;
    cairo_scaled_font_t* scaled = nullptr;
    int32_t ascent = 0, descent = 0;
    double em = 12.0;
    cairo_font_face_t* face = nullptr;  // kept by the process-wide face cache
    // The same font for a surface at scale 2 and 3 (index scale - 2), made when first drawn
    // there: em, cell and metrics grow with the scale, so text is set at that resolution.
    struct Larger {
        cairo_scaled_font_t* scaled = nullptr;
        int32_t ascent = 0, descent = 0;
    } larger[kMaxScale - 1];
};
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
    f->face = face;
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

void releaseFont(Font* f) {
    if (f->scaled) cairo_scaled_font_destroy(f->scaled);
    for (Font::Larger& l : f->larger)
        if (l.scaled) cairo_scaled_font_destroy(l.scaled);
}

// The font's face at scale s: its scaled font, ascent and descent; null font when none could be
// made (the text is then not drawn).
Font::Larger atScale(Font* f, int32_t s) {
    if (s <= 1) return Font::Larger{f->scaled, f->ascent, f->descent};
    // The stock font is shared by every context.
    std::lock_guard<std::mutex> lock(gFaceMutex);
    Font::Larger& l = f->larger[s - 2];
    if (!l.scaled && f->face) {
        l.scaled = scaledFont(f->face, f->em * s);
        if (!l.scaled) return {};
        cairo_font_extents_t e;
        cairo_scaled_font_extents(l.scaled, &e);
        l.ascent = static_cast<int32_t>(std::lround(e.ascent));
        l.descent = static_cast<int32_t>(std::lround(e.descent));
        const int32_t h = std::clamp(f->desc.height, -2048, 2048);
        if (h > 0) l.descent = std::max(0, h * s - l.ascent);
    }
    return l;
}

}  // namespace

Font* pixels::stockFont() {
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

namespace {

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

std::string toUtf8(const char* text, bool symbol) {
    if (!symbol) {
        const std::size_t n = utf8::boundedLength(text, kMaxTextBytes);
        if (utf8::valid(text, n)) return std::string(text, n);
        return utf8::fromLatin1(text, strnlen(text, kMaxTextBytes));
    }
    const std::size_t n = strnlen(text, kMaxTextBytes);
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (const char* g = symbolGreek(c)) out += g;
        else utf8::appendLatin1(out, c);
    }
    return out;
}

}  // namespace

Font* createFont(const FontDesc& desc) {
    auto* f = new (std::nothrow) Font;
    if (!f) return nullptr;
    f->desc = desc;
    if (!fillFont(f)) {
        releaseFont(f);
        delete f;
        return nullptr;
    }
    f->desc.face = nullptr;  // not kept: the caller's string may go away
    return f;
}

void deleteFont(Font* font) {
    if (!font || font->stock) return;
    releaseFont(font);
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

// Renders a cairo path into a coverage mask over the drawing area and applies it with the
// pen's or brush's colour through the raster operation. Hard-edged: no anti-aliasing.
template <typename PathFn> void maskDraw(Context* c, Color color, bool useRop, PathFn&& path) {
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
    // Paths and pen widths are in design units: the shape is rendered at the surface's scale.
    const int32_t scale = scaleOf(c);
    if (scale > 1) cairo_scale(cr, scale, scale);
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
    // Most of the mask is empty (a knob's ring on its whole surface): eight coverage bytes are
    // tested at once for any at or over half.
    constexpr uint64_t kHalfOrMore = 0x8080808080808080ull;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = m + static_cast<size_t>(y) * ms;
        int32_t first = w, last = -1;
        for (int32_t x = 0; x < w;) {
            if (x + 8 <= w) {
                uint64_t eight = 0;
                std::memcpy(&eight, row + x, sizeof eight);
                if ((eight & kHalfOrMore) == 0) {
                    x += 8;
                    continue;
                }
            }
            for (const int32_t end = std::min(x + 8, w); x < end; ++x) {
                if (row[x] < 128) continue;
                plotRop(c, area.left + x, area.top + y, color);
                first = std::min(first, x);
                last = x;
            }
        }
        if (last < 0) continue;
        touched.left = std::min(touched.left, area.left + first);
        touched.right = std::max(touched.right, area.left + last + 1);
        touched.top = std::min(touched.top, area.top + y);
        touched.bottom = std::max(touched.bottom, area.top + y + 1);
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
}  // namespace

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
            for (int32_t i = 1; i < n; ++i)
                cairo_line_to(cr, clampCoord(pts[i].x), clampCoord(pts[i].y));
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
    const Rect area = designArea(c);
    if (emptyRect(area)) return;
    a = std::min(std::max(a, 0.0), 1.0e6);
    b = std::min(std::max(b, 0.0), 1.0e6);
    const double step = 0.25 / std::max({a, b, 1.0});
    const int64_t n =
        std::min<int64_t>(static_cast<int64_t>(std::fabs(sweep) / step) + 1, 50'000'000);
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
    if (!pts.empty()) addDamage(c->bitmap, intersect(up(touched, scaleOf(c)), drawArea(c)));
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
        if (sw > 0) cairo_arc_negative(cr, clampCoord(cx), clampCoord(cy), r, -s, -s - sw);
        else if (sw < 0) cairo_arc(cr, clampCoord(cx), clampCoord(cy), r, -s, -s - sw);
        else cairo_line_to(cr, clampCoord(cx + r * std::cos(s)), clampCoord(cy - r * std::sin(s)));
        applyPenStroke(c, cr);
    });
}

// ---- Text ------------------------------------------------------------------------------------

namespace {
int32_t advance(cairo_scaled_font_t* font, const std::string& utf8) {
    if (!font || utf8.empty()) return 0;
    cairo_text_extents_t e;
    cairo_scaled_font_text_extents(font, utf8.c_str(), &e);
    return static_cast<int32_t>(std::lround(e.x_advance));
}
}  // namespace

Size textExtent(Context* c, const char* text) {
    if (!c || !text || !c->font) return {};
    const std::string s = toUtf8(text, c->font->symbol);
    return {advance(c->font->scaled, s), c->font->ascent + c->font->descent};
}

void drawText(Context* c, const char* text, const Rect& designRect, TextAlign align) {
    if (!validContext(c) || !text || !c->font || !c->font->scaled || c->bitmap->mono) return;
    Font* f = c->font;
    // Set in device pixels with the font at the surface's scale.
    const int32_t scale = scaleOf(c);
    const Font::Larger metrics = atScale(f, scale);
    if (!metrics.scaled) return;
    const Rect rect = up(designRect, scale);
    const std::string s = toUtf8(text, f->symbol);
    const int32_t width = advance(metrics.scaled, s);
    const int32_t cell = metrics.ascent + metrics.descent;
    int64_t x = rect.left;
    if (align == TextAlign::center) x = rect.left + (int64_t(rect.right) - rect.left - width) / 2;
    else if (align == TextAlign::right) x = int64_t(rect.right) - width;
    const int64_t top = rect.top + (int64_t(rect.bottom) - rect.top - cell) / 2;
    const Rect clip = intersect(drawArea(c), rect);
    if (emptyRect(clip)) return;
    if (c->bkMode == BkMode::opaque) {
        const Rect cellRect{
            static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(top, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(x + width, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(top + cell, INT32_MIN, INT32_MAX))};
        fillDevice(c, intersect(cellRect, clip), c->bkColor);
    }
    if (s.empty()) return;
    Bitmap* b = c->bitmap;
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(b->pixels),
                                            CAIRO_FORMAT_RGB24, b->width, b->height, b->stride * 4);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_rectangle(cr, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top);
    cairo_clip(cr);
    const Color tc = c->textColor;
    cairo_set_source_rgb(cr, (tc & 0xFF) / 255.0, ((tc >> 8) & 0xFF) / 255.0,
                         ((tc >> 16) & 0xFF) / 255.0);
    cairo_set_scaled_font(cr, metrics.scaled);
    const double baseline = static_cast<double>(top + metrics.ascent);
    cairo_move_to(cr, clampCoord(static_cast<double>(x)), clampCoord(baseline));
    cairo_show_text(cr, s.c_str());
    if (f->desc.underline) {
        const double thick = std::max(1.0, std::round(f->em * scale / 14.0));
        const double y = baseline + std::max(1.0, std::round(f->em * scale / 10.0));
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        cairo_rectangle(cr, clampCoord(static_cast<double>(x)), y, width, thick);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    addDamage(b, clip);
}

}  // namespace platform
