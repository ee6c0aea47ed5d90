// SPDX-License-Identifier: GPL-3.0-or-later
// The drawing half of the platform layer: device contexts, pens, brushes, fonts and bitmaps with
// the pixel rules the toolkit relies on. Nothing here names a window system or a graphics library.
//
// Contract shared by every call: the user-interface thread only; null handles and out-of-range
// sizes are answered with a safe no-op or null, never a crash. Coordinates are device pixels,
// x to the right, y downwards; a rectangle's right and bottom edges are exclusive unless a call
// says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A colour as the toolkit hands it over: red in bits 0-7, green 8-15, blue 16-23.
using Color = uint32_t;
constexpr Color kInvalidColor = 0xFFFFFFFFu;  // getPixel outside the surface or the clip
constexpr Color rgb(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<Color>(r) | static_cast<Color>(g) << 8 | static_cast<Color>(b) << 16;
}

struct Point {
    int32_t x = 0, y = 0;
};
struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct Bitmap;   // colour (24 bits in 32) or monochrome (1 bit) pixels
struct Context;  // a device context: a selected bitmap plus drawing state
struct Pen;
struct Brush;
struct Font;

// ---- Bitmaps ---------------------------------------------------------------------------------
constexpr int32_t kMaxBitmapSide = 16384;

Bitmap* createBitmap(int32_t width, int32_t height);      // colour, contents black
Bitmap* createMonoBitmap(int32_t width, int32_t height);  // one bit per pixel, contents 0
// Colour, unless the context has a monochrome bitmap selected (a fresh memory context does):
// then monochrome. A null context means the screen: colour.
Bitmap* createCompatibleBitmap(Context* context, int32_t width, int32_t height);
// A bitmap still selected into a context is freed when the context lets go of it.
void deleteBitmap(Bitmap* bitmap);
int32_t bitmapWidth(const Bitmap* bitmap);
int32_t bitmapHeight(const Bitmap* bitmap);
bool bitmapIsMono(const Bitmap* bitmap);

// Direct pixel access for window backends and tests: rows of 0x00RRGGBB words (colour bitmaps
// only; null for monochrome ones). stride is in words.
uint32_t* bitmapPixels(Bitmap* bitmap, int32_t* stride);
// The union of everything drawn into the bitmap since the last call; the call resets it.
Rect takeDamage(Bitmap* bitmap);

// A Windows bitmap file (with or without its 14-byte file header): 1, 4, 8, 24 or 32 bits per
// pixel, uncompressed. Null for anything malformed or truncated.
Bitmap* decodeBmp(const uint8_t* data, std::size_t size);
// The handle of the module (library or program) this code is linked into: what a load hook
// records, and what resources are found through.
void* thisModule();
// Bitmap resource number id of the loaded module whose handle is module (the load hook's).
Bitmap* loadBitmapResource(void* module, int32_t id);
// Writes a colour bitmap as a PNG file; false on any failure.
bool writePng(Bitmap* bitmap, const char* path);

// ---- Contexts --------------------------------------------------------------------------------
// A memory context. It starts with a 1 x 1 monochrome bitmap, the stock black pen, white brush
// and system font selected, black text on a white opaque background, copy mode, no clip.
// compatible is accepted for symmetry with systems where it matters and may be null.
Context* createContext(Context* compatible);
void deleteContext(Context* context);  // contexts made by windows are released by their window
// Selecting returns what was selected before (never null for a valid context).
Bitmap* selectBitmap(Context* context, Bitmap* bitmap);
Bitmap* selectedBitmap(Context* context);

enum class PenStyle : int32_t { solid, dotted, null };
enum class LineCap : int32_t { round, flat, square };
enum class LineJoin : int32_t { round, bevel, miter };
struct PenDesc {
    PenStyle style = PenStyle::solid;
    int32_t width = 1;  // 0 and 1 both mean the one-pixel cosmetic pen
    Color color = 0;
    // Cosmetic pens wider than one pixel have round caps and joins; geometric ones take these.
    bool geometric = false;
    LineCap cap = LineCap::round;
    LineJoin join = LineJoin::round;
};
Pen* createPen(const PenDesc& desc);
Pen* stockNullPen();
void deletePen(Pen* pen);  // stock objects are never deleted
Pen* selectPen(Context* context, Pen* pen);

Brush* createSolidBrush(Color color);
Brush* stockNullBrush();
void deleteBrush(Brush* brush);
Brush* selectBrush(Context* context, Brush* brush);

struct FontDesc {
    // Negative: the character (em) height in pixels; positive: the cell height
    // (ascent + descent); 0: a default of 12 pixels.
    int32_t height = 0;
    int32_t weight = 400;  // 700 and above is bold
    bool italic = false;
    bool underline = false;
    uint8_t pitchAndFamily = 0;  // 0x50: decorative (symbol) family
    const char* face = "Arial";
};
Font* createFont(const FontDesc& desc);
void deleteFont(Font* font);
Font* selectFont(Context* context, Font* font);

Pen* selectedPen(Context* context);
Brush* selectedBrush(Context* context);
Font* selectedFont(Context* context);

Color setTextColor(Context* context, Color color);
Color setBkColor(Context* context, Color color);
Color getBkColor(Context* context);
Color getTextColor(Context* context);
enum class BkMode : int32_t { transparent, opaque };
BkMode setBkMode(Context* context, BkMode mode);
// Raster operation for pens and shape interiors (not for fillRect, text or blits).
enum class Rop2 : int32_t { copyPen, mergePen, notXorPen };
Rop2 setRop2(Context* context, Rop2 mode);
enum class StretchMode : int32_t { colorOnColor, halftone };
StretchMode setStretchMode(Context* context, StretchMode mode);
// A rectangular clip in device pixels; null removes it. Drawing never leaves the bitmap anyway.
void setClipRect(Context* context, const Rect* clip);

// ---- Drawing ---------------------------------------------------------------------------------
void moveTo(Context* context, Point p);
Point currentPosition(Context* context);
// One-pixel lines exclude their end pixel; the current position moves to p.
void lineTo(Context* context, Point p);
void polyline(Context* context, const Point* points, int32_t count);
// Even-odd fill with the brush, outline with the pen.
void polygon(Context* context, const Point* points, int32_t count);
// Pixels left..right-1, top..bottom-1 with the brush, plain copy.
void fillRect(Context* context, const Rect& rect, Brush* brush);
// Ellipse, arc and pie take a bounding box whose right and bottom edges are exclusive; angles are
// given by rays from the box's centre through `from` and `to`, swept counter-clockwise on screen.
// from == to means the whole ellipse.
void ellipse(Context* context, const Rect& box);
void arc(Context* context, const Rect& box, Point from, Point to);
void pie(Context* context, const Rect& box, Point from, Point to);
// A line from the current position to the start of the circular arc, then the arc; degrees,
// counter-clockwise positive. The current position ends at the arc's end.
void angleArc(Context* context, Point centre, int32_t radius, float startDegrees,
              float sweepDegrees);
Color setPixel(Context* context, Point p, Color color);
Color getPixel(Context* context, Point p);
// Paints the 4-connected area that has the colour found at p with the brush.
void floodFillSurface(Context* context, Point p);

enum class TextAlign : int32_t { left, center, right };
// One line, vertically centred in rect, clipped to it; '&' is not special. Text longer than
// kMaxTextBytes is cut there. Valid UTF-8 is taken as such, anything else as Latin-1.
constexpr std::size_t kMaxTextBytes = 4096;
void drawText(Context* context, const char* text, const Rect& rect, TextAlign align);
struct Size {
    int32_t width = 0, height = 0;
};
Size textExtent(Context* context, const char* text);

// ---- Block transfers -------------------------------------------------------------------------
// Between bitmaps of different kinds: colour to monochrome gives 1 where the source equals the
// source context's background colour; monochrome to colour gives the destination context's
// background colour for 1 and its text colour for 0.
enum class BlitOp : int32_t { srcCopy, srcInvert, srcAnd };
void bitBlt(Context* dst, int32_t x, int32_t y, int32_t width, int32_t height, Context* src,
            int32_t sx, int32_t sy, BlitOp op);
// Scales with the destination's stretch mode: halftone averages areas, colorOnColor samples.
void stretchBlt(Context* dst, int32_t x, int32_t y, int32_t width, int32_t height, Context* src,
                int32_t sx, int32_t sy, int32_t sw, int32_t sh);
// Copies every source pixel except those equal to key.
bool transparentBlt(Context* dst, int32_t x, int32_t y, int32_t width, int32_t height, Context* src,
                    int32_t sx, int32_t sy, int32_t sw, int32_t sh, Color key);
// dst = src * alpha / 255 + dst * (255 - alpha) / 255, rounded.
bool alphaBlend(Context* dst, int32_t x, int32_t y, int32_t width, int32_t height, Context* src,
                int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint8_t alpha);

// The optional operations a toolkit binds at run time; either may be missing on some systems.
// A binding may hold a system library; unbind releases it, after which the pointers it gave out
// answer false.
struct OptionalBlits {
    bool (*alphaBlend)(Context*, int32_t, int32_t, int32_t, int32_t, Context*, int32_t, int32_t,
                       int32_t, int32_t, uint8_t) = nullptr;
    bool (*transparentBlt)(Context*, int32_t, int32_t, int32_t, int32_t, Context*, int32_t, int32_t,
                           int32_t, int32_t, Color) = nullptr;
    void* library = nullptr;
};
OptionalBlits bindOptionalBlits();
void unbindOptionalBlits(OptionalBlits* blits);

}  // namespace platform
