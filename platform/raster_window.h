// SPDX-License-Identifier: GPL-3.0-or-later
// Internal to the platform: window images and the contexts on them, for window systems that keep
// one (X11, the in-memory one). Every raster implements it.
#pragma once

#include "platform/raster.h"

namespace platform {

// The largest scale a window or bitmap takes.
constexpr int32_t kMaxScale = 3;

// A colour bitmap of width × height design units at scale (a window's image); null when the
// device size is out of range, or the raster does not draw at that scale.
Bitmap* createScaledBitmap(int32_t width, int32_t height, int32_t scale);

// A context drawing on a window's image. Like a window's device context elsewhere, any number of
// them may be open on one window at once (a control tracking the mouse inside the press's context
// still repaints through the frame's idle); none of them owns the image. Freed with deleteContext.
Context* createWindowContext(Bitmap* windowImage);

}  // namespace platform
