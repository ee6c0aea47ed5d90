// SPDX-License-Identifier: GPL-3.0-or-later
// The toolkit's value types, named colours, font tables and the enumerations shared by views,
// contexts and controls.
#pragma once

#include <cstdint>

namespace gui {

struct CRect;

struct CPoint {
    CPoint() = default;
    CPoint(int32_t x, int32_t y) : x(x), y(y) {}
    CPoint& operator()(int32_t nx, int32_t ny) {
        x = nx;
        y = ny;
        return *this;
    }
    CPoint& offset(int32_t dx, int32_t dy) {
        x += dx;
        y += dy;
        return *this;
    }
    // All four edges inclusive (unlike CRect::pointInside).
    bool isInside(const CRect& r) const;
    bool operator!=(const CPoint& o) const { return x != o.x || y != o.y; }
    bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }

    int32_t x = 0, y = 0;
};

struct CRect {
    CRect() = default;
    // Stored as given, not normalised.
    CRect(int32_t l, int32_t t, int32_t r, int32_t b) : left(l), top(t), right(r), bottom(b) {}
    // Normalises: left/top become the smaller values.
    CRect& operator()(int32_t l, int32_t t, int32_t r, int32_t b) {
        left = l < r ? l : r;
        right = l < r ? r : l;
        top = t < b ? t : b;
        bottom = t < b ? b : t;
        return *this;
    }
    CRect& offset(int32_t dx, int32_t dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
        return *this;
    }
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    // Right and bottom exclusive.
    bool pointInside(const CPoint& p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    bool isEmpty() const { return left >= right || top >= bottom; }
    // Touching rectangles overlap.
    bool rectOverlap(const CRect& o) const {
        return !(right < o.left || o.right < left || bottom < o.top || o.bottom < top);
    }
    // Intersects in place; an inverted result collapses to an empty rectangle.
    void bound(const CRect& o) {
        if (left < o.left) left = o.left;
        if (top < o.top) top = o.top;
        if (right > o.right) right = o.right;
        if (bottom > o.bottom) bottom = o.bottom;
        if (bottom < top) bottom = top;
        if (right < left) right = left;
    }
    bool operator==(const CRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }

    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

inline bool CPoint::isInside(const CRect& r) const {
    return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

struct CColor {
    CColor& operator()(uint8_t r, uint8_t g, uint8_t b, uint8_t res) {
        red = r;
        green = g;
        blue = b;
        reserved = res;
        return *this;
    }
    // reserved takes no part in comparisons.
    bool operator!=(const CColor& o) const {
        return red != o.red || green != o.green || blue != o.blue;
    }
    bool operator==(const CColor& o) const { return !(*this != o); }
    // The platform's packed colour: red in the lowest byte; reserved dropped.
    uint32_t packed() const {
        return static_cast<uint32_t>(red) | static_cast<uint32_t>(green) << 8 |
               static_cast<uint32_t>(blue) << 16;
    }
    static CColor fromPacked(uint32_t c) {
        return CColor{static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>((c >> 8) & 0xFF),
                      static_cast<uint8_t>((c >> 16) & 0xFF), 0};
    }

    uint8_t red = 0, green = 0, blue = 0, reserved = 0;
};

inline constexpr CColor kTransparentCColor{255, 255, 255, 0};
inline constexpr CColor kWhiteCColor{255, 255, 255, 0};
inline constexpr CColor kBlackCColor{0, 0, 0, 0};
inline constexpr CColor kGreyCColor{127, 127, 127, 0};
inline constexpr CColor kRedCColor{255, 0, 0, 0};
inline constexpr CColor kGreenCColor{0, 255, 0, 0};
inline constexpr CColor kBlueCColor{0, 0, 255, 0};
inline constexpr CColor kYellowCColor{255, 255, 0, 0};
inline constexpr CColor kMagentaCColor{255, 0, 255, 0};
inline constexpr CColor kCyanCColor{0, 255, 255, 0};

enum CFont : int32_t {
    kFontSystem = 0,
    kFontVeryBig,
    kFontBig,
    kFontNormal,
    kFontSmall,
    kFontSmaller,
    kFontVerySmall,
    kFontSymbol,
};
inline constexpr int32_t kNumStandardFonts = 8;
extern const char* const standardFontName[kNumStandardFonts];
extern const int32_t standardFontSize[kNumStandardFonts];

enum CLineStyle : int32_t { kSolidLine = 0, kDottedLine };
enum CDrawMode : int32_t { kModeCopy = 0, kModeOr, kModeXor };
enum CHoriTxtAlign : int32_t { kAlignLeft = 0, kAlignCenter, kAlignRight };

enum : int32_t { kStyleBold = 1, kStyleItalic = 2, kStyleUnderline = 4 };

enum : int32_t {
    kMouseLeft = 1,
    kMouseMiddle = 2,
    kMouseRight = 4,
    kKeyShift = 8,
    kKeyControl = 16,
    kKeyAlt = 32,
};

enum CCursorType : int32_t {
    kCursorDefault = 0,
    kCursorWait,
    kCursorHSize,
    kCursorVSize,
    kCursorSizeAll,
    kCursorNESWSize,
    kCursorNWSESize,
};

}  // namespace gui
