// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the raster's own code: bitmap files (including hostile ones), monochrome/colour
// conversion in block transfers, halftone averaging, clipping of transfers at both ends, and
// deferred deletion of a selected bitmap. Built for every raster (cairo here, GDI under Wine).
#include "platform/raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace platform;

namespace {

std::vector<uint8_t> bmp(int32_t w, int32_t h, uint16_t bpp, const std::vector<uint8_t>& palette,
                         const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> out;
    out.reserve(54 + palette.size() + pixels.size());
    out.resize(54);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(10, static_cast<uint32_t>(54 + palette.size()));
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    out[26] = 1;
    out[28] = static_cast<uint8_t>(bpp);
    for (uint8_t v : palette) out.push_back(v);
    for (uint8_t v : pixels) out.push_back(v);
    put32(2, static_cast<uint32_t>(out.size()));
    return out;
}

Color pixelOf(Bitmap* b, int x, int y) {
    Context* c = createContext(nullptr);
    Bitmap* old = selectBitmap(c, b);
    const Color v = getPixel(c, {x, y});
    selectBitmap(c, old);
    deleteContext(c);
    return v;
}

}  // namespace

TEST(DecodeBmp, TwentyFourBitBottomUpAndEightBitPalette) {
    // 2 x 2, rows padded to 8 bytes, bottom row first: bottom = blue, green; top = red, white.
    const std::vector<uint8_t> px = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0};
    auto file = bmp(2, 2, 24, {}, px);
    Bitmap* b = decodeBmp(file.data(), file.size());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pixelOf(b, 0, 0), rgb(255, 0, 0));
    EXPECT_EQ(pixelOf(b, 1, 0), rgb(255, 255, 255));
    EXPECT_EQ(pixelOf(b, 0, 1), rgb(0, 0, 255));
    EXPECT_EQ(pixelOf(b, 1, 1), rgb(0, 255, 0));
    deleteBitmap(b);
    // 8-bit, 2 palette entries, one row of 3 pixels padded to 4.
    auto pal = bmp(3, 1, 8, {0, 0, 0, 0, 10, 20, 30, 0}, {1, 0, 1, 0});
    pal[46] = 2;  // colours used
    b = decodeBmp(pal.data(), pal.size());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pixelOf(b, 0, 0), rgb(30, 20, 10));
    EXPECT_EQ(pixelOf(b, 1, 0), rgb(0, 0, 0));
    deleteBitmap(b);
}

TEST(DecodeBmp, HostileInputsAreRefused) {
    const std::vector<uint8_t> px(16, 0);
    auto good = bmp(2, 2, 24, {}, px);
    EXPECT_EQ(decodeBmp(nullptr, 100), nullptr);
    for (size_t cut = 0; cut < good.size(); cut += 7)
        EXPECT_EQ(decodeBmp(good.data(), cut), nullptr) << cut;
    auto huge = bmp(100000, 100000, 24, {}, px);
    EXPECT_EQ(decodeBmp(huge.data(), huge.size()), nullptr);
    auto zero = bmp(0, 2, 24, {}, px);
    EXPECT_EQ(decodeBmp(zero.data(), zero.size()), nullptr);
    auto odd = bmp(2, 2, 7, {}, px);
    EXPECT_EQ(decodeBmp(odd.data(), odd.size()), nullptr);
    auto rle = bmp(2, 2, 8, {}, px);
    rle[30] = 1;
    EXPECT_EQ(decodeBmp(rle.data(), rle.size()), nullptr);
    auto pal = bmp(2, 2, 8, {}, px);
    pal[46] = 0xFF;
    pal[47] = 0xFF;  // more colours than 8 bits allow
    EXPECT_EQ(decodeBmp(pal.data(), pal.size()), nullptr);
    auto header = good;
    header[14] = 0xFF;
    header[15] = 0xFF;  // info header larger than the file
    EXPECT_EQ(decodeBmp(header.data(), header.size()), nullptr);
}

TEST(BlockTransfer, ColourToMonoUsesTheSourceBackgroundAndBack) {
    Context* colour = createContext(nullptr);
    Bitmap* cb = createBitmap(4, 1);
    selectBitmap(colour, cb);
    setPixel(colour, {0, 0}, rgb(1, 2, 3));
    setPixel(colour, {2, 0}, rgb(1, 2, 3));
    setBkColor(colour, rgb(1, 2, 3));
    Context* mono = createContext(nullptr);
    Bitmap* mb = createMonoBitmap(4, 1);
    selectBitmap(mono, mb);
    bitBlt(mono, 0, 0, 4, 1, colour, 0, 0, BlitOp::srcCopy);
    EXPECT_EQ(getPixel(mono, {0, 0}), 0xFFFFFFu);
    EXPECT_EQ(getPixel(mono, {1, 0}), 0u);
    EXPECT_EQ(getPixel(mono, {2, 0}), 0xFFFFFFu);
    // Back to colour: 1 -> destination background, 0 -> destination text colour.
    setBkColor(colour, rgb(9, 9, 9));
    setTextColor(colour, rgb(7, 7, 7));
    bitBlt(colour, 0, 0, 4, 1, mono, 0, 0, BlitOp::srcCopy);
    EXPECT_EQ(getPixel(colour, {0, 0}), rgb(9, 9, 9));
    EXPECT_EQ(getPixel(colour, {1, 0}), rgb(7, 7, 7));
    // XOR and AND act bitwise on the colour.
    setPixel(colour, {3, 0}, rgb(0xF0, 0x0F, 0xFF));
    Context* other = createContext(nullptr);
    Bitmap* ob = createBitmap(1, 1);
    selectBitmap(other, ob);
    setPixel(other, {0, 0}, rgb(0xFF, 0xFF, 0x0F));
    bitBlt(colour, 3, 0, 1, 1, other, 0, 0, BlitOp::srcInvert);
    EXPECT_EQ(getPixel(colour, {3, 0}), rgb(0x0F, 0xF0, 0xF0));
    bitBlt(colour, 3, 0, 1, 1, other, 0, 0, BlitOp::srcAnd);
    EXPECT_EQ(getPixel(colour, {3, 0}), rgb(0x0F, 0xF0, 0x00));
    deleteContext(other);
    deleteBitmap(ob);
    deleteContext(mono);
    deleteBitmap(mb);
    deleteContext(colour);
    deleteBitmap(cb);
}

TEST(BlockTransfer, ClippedAtSourceAndDestinationEdges) {
    Context* dst = createContext(nullptr);
    Bitmap* db = createBitmap(10, 10);
    selectBitmap(dst, db);
    Context* src = createContext(nullptr);
    Bitmap* sb = createBitmap(4, 4);
    selectBitmap(src, sb);
    Brush* white = createSolidBrush(0xFFFFFF);
    fillRect(src, {0, 0, 4, 4}, white);
    bitBlt(dst, -2, -2, 100, 100, src, 0, 0, BlitOp::srcCopy);
    bitBlt(dst, 8, 8, 100, 100, src, 0, 0, BlitOp::srcCopy);
    bitBlt(dst, 4, 4, 4, 4, src, -2, -2, BlitOp::srcCopy);  // dest 6..7: where the source exists
    bitBlt(dst, 0, 0, -5, 5, src, 0, 0, BlitOp::srcCopy);
    bitBlt(dst, 2147483000, 5, 2000, 5, src, 0, 0, BlitOp::srcCopy);
    int white_ = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) white_ += getPixel(dst, {x, y}) == 0xFFFFFF;
    EXPECT_EQ(white_, 4 + 4 + 4);
    const Rect clip{0, 0, 1, 1};
    setClipRect(dst, &clip);
    EXPECT_EQ(getPixel(dst, {5, 5}), kInvalidColor);
    deleteBrush(white);
    deleteContext(src);
    deleteBitmap(sb);
    deleteContext(dst);
    deleteBitmap(db);
}

TEST(Halftone, ShrinkAveragesAreasAndKeepsFlatColours) {
    Context* src = createContext(nullptr);
    Bitmap* sb = createBitmap(8, 8);
    selectBitmap(src, sb);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) setPixel(src, {x, y}, (x + y) % 2 ? 0xFFFFFF : 0);
    Context* dst = createContext(nullptr);
    Bitmap* db = createBitmap(2, 2);
    selectBitmap(dst, db);
    setStretchMode(dst, StretchMode::halftone);
    stretchBlt(dst, 0, 0, 2, 2, src, 0, 0, 8, 8);
    EXPECT_EQ(getPixel(dst, {0, 0}), rgb(128, 128, 128));
    EXPECT_EQ(getPixel(dst, {1, 1}), rgb(128, 128, 128));
    Brush* b = createSolidBrush(rgb(0, 0, 140));
    fillRect(src, {0, 0, 8, 8}, b);
    stretchBlt(dst, 0, 0, 2, 2, src, 0, 0, 8, 8);
    EXPECT_EQ(getPixel(dst, {1, 0}), rgb(0, 0, 140));
    // Without halftone each destination pixel is one source pixel of the block it covers (which
    // one is the system's choice), never a mixture.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) setPixel(src, {x, y}, (x + y) % 2 ? 0xFFFFFF : rgb(0, 0, 140));
    setStretchMode(dst, StretchMode::colorOnColor);
    stretchBlt(dst, 0, 0, 2, 2, src, 0, 0, 8, 8);
    const Color sample = getPixel(dst, {0, 0});
    EXPECT_TRUE(sample == 0xFFFFFFu || sample == rgb(0, 0, 140)) << std::hex << sample;
    deleteBrush(b);
    deleteContext(src);
    deleteBitmap(sb);
    deleteContext(dst);
    deleteBitmap(db);
}

#if !defined(_WIN32)
// The area mean, rounded half up, is this raster's own rule (GDI's halftone is the system's):
// whole-number shrinks take a shortcut through it, every other shrink and any source reaching
// past its bitmap the weighted path, and both must give this mean wherever the target lands.
TEST(Halftone, WholeNumberShrinksGiveTheRoundedAreaMeanLikeEveryOther) {
    constexpr int kSide = 24;
    Context* src = createContext(nullptr);
    Bitmap* sb = createBitmap(kSide, kSide);
    selectBitmap(src, sb);
    uint32_t seed = 12345;
    std::vector<Color> colours(kSide * kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            seed = seed * 1664525u + 1013904223u;
            colours[y * kSide + x] = seed >> 8 & 0xFFFFFF;
            setPixel(src, {x, y}, colours[y * kSide + x]);
        }
    // Exact halves: eight pixels of 0 and eight of 1 in the first 4 x 4 block's red.
    for (int i = 0; i < 16; ++i) {
        colours[(i / 4) * kSide + i % 4] = i % 2 ? 1 : 0;
        setPixel(src, {i % 4, i / 4}, colours[(i / 4) * kSide + i % 4]);
    }
    auto mean = [&](int x0, int y0, int kx, int ky) {
        double sum[3] = {}, n = 0;
        for (int y = y0; y < y0 + ky; ++y)
            for (int x = x0; x < x0 + kx; ++x) {
                if (x < 0 || y < 0 || x >= kSide || y >= kSide) continue;
                const Color c = colours[y * kSide + x];
                sum[0] += c & 0xFF;  // red, as rgb() packs it
                sum[1] += c >> 8 & 0xFF;
                sum[2] += c >> 16 & 0xFF;
                n += 1;
            }
        return rgb(static_cast<uint8_t>(std::lround(sum[0] / n)),
                   static_cast<uint8_t>(std::lround(sum[1] / n)),
                   static_cast<uint8_t>(std::lround(sum[2] / n)));
    };
    struct Case {
        int sx, sy, kx, ky, w, h, dx, dy;
    } cases[] = {
        {0, 0, 4, 4, 6, 6, 0, 0},    // the knob's shrink, exact halves included
        {3, 5, 3, 2, 7, 9, 1, 2},    // offset source, unequal whole factors
        {0, 0, 2, 3, 12, 8, -3, 4},  // target partly off the left edge
        {-2, 0, 2, 2, 4, 4, 0, 0},   // source reaching past its bitmap: the weighted path
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "source " << c.sx << "," << c.sy << " by " << c.kx << "x"
                                        << c.ky << " at " << c.dx << "," << c.dy);
        Context* dst = createContext(nullptr);
        Bitmap* db = createBitmap(16, 16);
        selectBitmap(dst, db);
        setStretchMode(dst, StretchMode::halftone);
        stretchBlt(dst, c.dx, c.dy, c.w, c.h, src, c.sx, c.sy, c.w * c.kx, c.h * c.ky);
        int checked = 0;
        for (int j = 0; j < c.h; ++j)
            for (int i = 0; i < c.w; ++i) {
                const Point at{c.dx + i, c.dy + j};
                if (at.x < 0 || at.y < 0 || at.x >= 16 || at.y >= 16) continue;
                ASSERT_EQ(getPixel(dst, at), mean(c.sx + i * c.kx, c.sy + j * c.ky, c.kx, c.ky))
                    << "at " << at.x << "," << at.y;
                ++checked;
            }
        EXPECT_GT(checked, 0);
        deleteContext(dst);
        deleteBitmap(db);
    }
    EXPECT_EQ(mean(0, 0, 4, 4) & 0xFF, 1u);  // a half rounds up
    deleteContext(src);
    deleteBitmap(sb);
}
#endif

// Colour blocks between two bitmaps: each operation on every pixel of a clipped, offset block,
// and nothing outside it.
TEST(BlockTransfer, ColourOperationsCoverTheBlockExactly) {
    Context* src = createContext(nullptr);
    Bitmap* sb = createBitmap(8, 8);
    selectBitmap(src, sb);
    Context* dst = createContext(nullptr);
    Bitmap* db = createBitmap(8, 8);
    selectBitmap(dst, db);
    auto source = [](int x, int y) { return Color((x * 37 + y * 101) * 0x010305 & 0xFFFFFF); };
    auto before = [](int x, int y) { return Color((x * 53 + y * 29) * 0x030501 & 0xFFFFFF); };
    for (const BlitOp op : {BlitOp::srcCopy, BlitOp::srcInvert, BlitOp::srcAnd}) {
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                setPixel(src, {x, y}, source(x, y));
                setPixel(dst, {x, y}, before(x, y));
            }
        // From (1, 2) to (5, 4), 5 x 5: the right and bottom columns fall off the destination.
        bitBlt(dst, 5, 4, 5, 5, src, 1, 2, op);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                Color want = before(x, y);
                if (x >= 5 && y >= 4) {
                    const Color s = source(x - 4, y - 2);
                    want = op == BlitOp::srcCopy     ? s
                           : op == BlitOp::srcInvert ? want ^ s
                                                     : want & s;
                }
                ASSERT_EQ(getPixel(dst, {x, y}), want)
                    << "op " << static_cast<int>(op) << " at " << x << "," << y;
            }
    }
    deleteContext(src);
    deleteBitmap(sb);
    deleteContext(dst);
    deleteBitmap(db);
}

TEST(Bitmaps, DeletingASelectedBitmapWaitsForItsContext) {
    Context* c = createContext(nullptr);
    Bitmap* b = createBitmap(3, 3);
    selectBitmap(c, b);
    deleteBitmap(b);  // deferred
    setPixel(c, {1, 1}, 0x123456);
    EXPECT_EQ(getPixel(c, {1, 1}), 0x123456u);
    deleteContext(c);  // frees it; the sanitizer build checks
    EXPECT_EQ(createBitmap(0, 5), nullptr);
    EXPECT_EQ(createBitmap(kMaxBitmapSide + 1, 5), nullptr);
    EXPECT_EQ(createMonoBitmap(-1, 5), nullptr);
}

TEST(Bitmaps, AContextsStockBitmapStaysItsOwn) {
    // The stock bitmap handed back by a selection belongs to its context: another context may not
    // take it, and deleting it must not free what the context still frees when it goes.
    Context* a = createContext(nullptr);
    Context* b = createContext(nullptr);
    Bitmap* bm = createBitmap(2, 2);
    Bitmap* stock = selectBitmap(a, bm);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(selectBitmap(b, stock), nullptr);
    EXPECT_EQ(selectBitmap(b, bm), nullptr);  // still a's
    deleteBitmap(stock);
    EXPECT_EQ(selectBitmap(a, stock), bm);  // back in its own context, bm free again
    EXPECT_NE(selectBitmap(b, bm), nullptr);
    deleteContext(b);
    deleteContext(a);  // frees its stock bitmap once; the sanitizer build checks
    deleteBitmap(bm);
}

TEST(Bitmaps, ABitmapWhoseDeletionWaitedGoesWhenItsContextLetsGo) {
    Context* c = createContext(nullptr);
    Bitmap* first = createBitmap(2, 2);
    Bitmap* second = createBitmap(2, 2);
    Bitmap* stock = selectBitmap(c, first);
    deleteBitmap(first);
    EXPECT_EQ(selectBitmap(c, second), nullptr);  // first is gone, not handed back
    EXPECT_EQ(selectBitmap(c, stock), second);
    deleteBitmap(second);  // not selected: freed at once
    deleteContext(c);
}

TEST(Fonts, ArialResolvesToAMetricCompatibleFaceWithSaneMetrics) {
    Context* c = createContext(nullptr);
    FontDesc d;
    d.height = -12;
    Font* f = createFont(d);
    ASSERT_NE(f, nullptr);
    selectFont(c, f);
    const Size s = textExtent(c, "0.500000");
    // Liberation Sans shares Arial's advance widths: eight characters of 12 px.
    EXPECT_GE(s.width, 40);
    EXPECT_LE(s.width, 54);
    EXPECT_GE(s.height, 13);
    EXPECT_LE(s.height, 15);
    FontDesc cell = d;
    cell.height = 14;  // a cell height: slightly smaller characters
    Font* g = createFont(cell);
    selectFont(c, g);
    EXPECT_EQ(textExtent(c, "Ag").height, 14);
    selectFont(c, f);
    deleteFont(g);
    deleteContext(c);
    deleteFont(f);
}
