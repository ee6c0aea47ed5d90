// SPDX-License-Identifier: GPL-3.0-or-later
// make-icon: writes corvex's application icon (icon.h) at build time, for the menus.
//   make-icon SIZE OUTPUT.png
#include "icon.h"

#include "platform/raster.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    using corvex_standalone::kMaxIconSize;
    using corvex_standalone::kMinIconSize;
    const int32_t size = argc == 3 ? std::atoi(argv[1]) : 0;
    if (size < kMinIconSize || size > kMaxIconSize) {
        std::fprintf(stderr, "usage: make-icon SIZE(16-1024) OUTPUT.png\n");
        return 2;
    }
    platform::Bitmap* icon = corvex_standalone::drawIcon(size);
    if (!icon) return 1;
    const bool ok = platform::writePng(icon, argv[2]);
    platform::deleteBitmap(icon);
    if (!ok) std::fprintf(stderr, "make-icon: cannot write %s\n", argv[2]);
    return ok ? 0 : 1;
}
