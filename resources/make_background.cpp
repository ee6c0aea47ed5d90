// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the editor background, bitmap resource 10001: a 600 x 350, 24-bit Windows bitmap file.
// The same bytes on every machine: integer arithmetic and a fixed pseudo-random sequence only.
//   make-background OUTPUT.bmp
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 600, kHeight = 350;
// The panel the editor paints over the bitmap: what stays visible is the frame around it.
constexpr int kPanelLeft = 6, kPanelTop = 4, kPanelRight = 594, kPanelBottom = 346;

struct Rgb {
    int r, g, b;
};

int clamp8(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
Rgb shade(Rgb c, int d) { return {clamp8(c.r + d), clamp8(c.g + d), clamp8(c.b + d)}; }
Rgb mix(Rgb a, Rgb b, int num, int den) {
    return {a.r + (b.r - a.r) * num / den, a.g + (b.g - a.g) * num / den,
            a.b + (b.b - a.b) * num / den};
}

// A fixed linear congruential sequence, hashed by position, for the brushed-metal grain.
int grain(int a, int salt) {
    uint32_t v = static_cast<uint32_t>(a) * 2654435761u ^ static_cast<uint32_t>(salt) * 40503u;
    v = v * 1103515245u + 12345u;
    return static_cast<int>((v >> 16) % 9) - 4;
}

Rgb pixel(int x, int y) {
    const int dl = x, dr = kWidth - 1 - x, dt = y, db = kHeight - 1 - y;
    const bool inPanel = x >= kPanelLeft && x < kPanelRight && y >= kPanelTop && y < kPanelBottom;
    if (inPanel) {
        // Under the panel: a deep blue gradient with a faint grid, for the bitmap seen alone.
        Rgb c = mix({8, 16, 92}, {0, 0, 44}, y, kHeight);
        if ((x - kPanelLeft) % 24 == 0 || (y - kPanelTop) % 24 == 0) c = shade(c, 10);
        return c;
    }
    // Outline of the whole plate.
    if (dl == 0 || dr == 0 || dt == 0 || db == 0) return {14, 16, 24};
    // The inner lip around the panel: an inset lit from the upper left, so its upper and left
    // sides lie in shadow and its lower and right sides catch a cold blue light.
    const bool lip =
        x >= kPanelLeft - 1 && x <= kPanelRight && y >= kPanelTop - 1 && y <= kPanelBottom;
    if (lip) {
        const bool lit = x == kPanelRight || y == kPanelBottom;
        return lit ? Rgb{70, 150, 225} : Rgb{4, 30, 96};
    }
    // Brushed steel: a vertical gradient, grained along the long side of each band.
    Rgb metal = mix({176, 184, 200}, {92, 100, 122}, y, kHeight - 1);
    const bool sideBand = x < kPanelLeft - 1 || x > kPanelRight;
    metal = shade(metal, sideBand ? grain(x, y / 3) : grain(y, x / 7));
    // Outer bevel: the upper and left edges raised into the light.
    if (dt == 1 || dl == 1) return shade(metal, 44);
    if (db == 1 || dr == 1) return shade(metal, -46);
    return metal;
}

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(x & 0xFF);
    v.push_back((x >> 8) & 0xFF);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-background OUTPUT.bmp\n");
        return 2;
    }
    const uint32_t rowBytes = kWidth * 3;  // 1800: already a multiple of 4
    const uint32_t imageBytes = rowBytes * kHeight;
    std::vector<uint8_t> out;
    out.reserve(54 + imageBytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, 54 + imageBytes);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, kWidth);
    put32(out, kHeight);  // positive: rows bottom-up
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);  // uncompressed
    put32(out, imageBytes);
    put32(out, 2835);  // 72 dpi
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int y = kHeight - 1; y >= 0; --y)
        for (int x = 0; x < kWidth; ++x) {
            const Rgb c = pixel(x, y);
            out.push_back(static_cast<uint8_t>(c.b));
            out.push_back(static_cast<uint8_t>(c.g));
            out.push_back(static_cast<uint8_t>(c.r));
        }
    FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (std::fclose(f) != 0 || !ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
