// SPDX-License-Identifier: GPL-3.0-or-later
// The layout of a Windows bitmap file, checked once for every raster: each backend converts the
// pixels its own way, but only after this has proved every size and offset lies inside the data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::bmp {

inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct Layout {
    int32_t width = 0, height = 0;  // both positive
    bool topDown = false;           // rows stored from the top (a negative height in the file)
    uint32_t bpp = 0;               // 1, 4, 8, 24 or 32
    bool bitfields = false;         // 32 bits with colour masks
    std::size_t masksOffset = 0;    // where the three masks are, with bitfields
    std::size_t paletteStart = 0, paletteCount = 0, paletteEntrySize = 4;
    std::size_t pixelOffset = 0, rowBytes = 0;
};

// With or without the 14-byte file header; uncompressed only (and 32-bit bitfields). False for
// anything malformed, truncated, or larger than maxSide on a side.
bool parse(const uint8_t* data, std::size_t size, int32_t maxSide, Layout* layout);

}  // namespace platform::bmp
