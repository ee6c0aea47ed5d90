// SPDX-License-Identifier: GPL-3.0-or-later
// Internal to the platform implementations: the raster's object layouts, shared by the raster and
// the window backends that present its bitmaps. The toolkit never includes this.
#pragma once

#include "platform/raster.h"
#include "raster_window.h"

#include <cstdint>
#include <vector>

namespace platform {

struct Bitmap {
    int32_t width = 0, height = 0;
    bool mono = false;
    std::vector<uint32_t> store;  // colour pixels 0x00RRGGBB (top byte ignored)
    uint32_t* pixels = nullptr;   // store.data() or memory owned by a window backend
    int32_t stride = 0;           // in words
    std::vector<uint8_t> bits;    // monochrome: one byte (0 or 1) per pixel
    Rect damage{0, 0, 0, 0};
    Context* selectedBy = nullptr;
    bool deletePending = false;
    // Device pixels per design unit, each way (1, 2 or 3): what a context drawing into it maps
    // every coordinate, size and pen width by. width and height above are device pixels.
    int32_t scale = 1;
};

// A colour bitmap over memory the caller owns (a window's shared image); freed with deleteBitmap,
// which leaves the memory alone.
// scale: as Bitmap::scale; width and height are device pixels.
Bitmap* wrapPixels(uint32_t* pixels, int32_t width, int32_t height, int32_t stride,
                   int32_t scale = 1);

}  // namespace platform
