// SPDX-License-Identifier: GPL-3.0-or-later
// Windows bitmap files: the header walk and every bounds check, shared by the rasters.
#include "bmp_layout.h"

namespace platform::bmp {

bool parse(const uint8_t* data, std::size_t size, int32_t maxSide, Layout* out) {
    if (!data || !out || size < 16) return false;
    std::size_t base = 0;  // start of the info header
    std::size_t pixelOffset = 0;
    if (data[0] == 'B' && data[1] == 'M') {
        base = 14;
        pixelOffset = le32(data + 10);
    }
    if (size < base + 12) return false;
    const uint32_t headerSize = le32(data + base);
    if (headerSize < 12 || headerSize > size - base) return false;
    int64_t width = 0, height = 0;
    uint32_t bpp = 0, compression = 0, colorsUsed = 0;
    std::size_t entrySize = 4;
    if (headerSize == 12) {
        width = le16(data + base + 4);
        height = static_cast<int16_t>(le16(data + base + 6));
        bpp = le16(data + base + 10);
        entrySize = 3;
    } else {
        if (headerSize < 40) return false;
        width = static_cast<int32_t>(le32(data + base + 4));
        height = static_cast<int32_t>(le32(data + base + 8));
        bpp = le16(data + base + 14);
        compression = le32(data + base + 16);
        colorsUsed = le32(data + base + 32);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || width > maxSide || height > maxSide) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
    // Uncompressed only; 32-bit bitfields are accepted in their usual order.
    if (compression != 0 && !(compression == 3 && bpp == 32)) return false;
    std::size_t paletteCount = 0;
    if (bpp <= 8) {
        paletteCount = colorsUsed ? colorsUsed : (1u << bpp);
        if (paletteCount > (1u << bpp)) return false;
    }
    // The masks follow a 40-byte header (the palette start skips them), or sit inside a longer
    // one at the same place.
    const std::size_t masksOffset = base + 40;
    std::size_t paletteStart = base + headerSize;
    if (compression == 3 && headerSize == 40) paletteStart += 12;
    const std::size_t paletteBytes = paletteCount * entrySize;
    if (paletteStart > size || paletteBytes > size - paletteStart) return false;
    if (pixelOffset == 0) pixelOffset = paletteStart + paletteBytes;
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
    if (pixelOffset > size || rowBytes * static_cast<std::size_t>(height) > size - pixelOffset)
        return false;

    out->width = static_cast<int32_t>(width);
    out->height = static_cast<int32_t>(height);
    out->topDown = topDown;
    out->bpp = bpp;
    out->bitfields = compression == 3;
    out->masksOffset = masksOffset;
    out->paletteStart = paletteStart;
    out->paletteCount = paletteCount;
    out->paletteEntrySize = entrySize;
    out->pixelOffset = pixelOffset;
    out->rowBytes = rowBytes;
    return true;
}

}  // namespace platform::bmp
