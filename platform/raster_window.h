// Internal to the platform: contexts on a window's image, for window systems that keep one (X11,
// the in-memory one). Every raster implements it.
#pragma once

#include "platform/raster.h"

namespace platform {

// A context drawing on a window's image. Like a window's device context elsewhere, any number of
// them may be open on one window at once (a control tracking the mouse inside the press's context
// still repaints through the frame's idle); none of them owns the image. Freed with deleteContext.
Context* createWindowContext(Bitmap* windowImage);

}  // namespace platform
