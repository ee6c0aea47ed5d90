// SPDX-License-Identifier: GPL-3.0-or-later
// raster-reference: renders the shared drawing cases with this build's raster and writes each as
// DIR/<case>.bmp, and again at 2x as DIR/<case>-2x.bmp: the reference the GDI raster is compared
// with under Wine.
//   raster-reference DIR
#include "raster_cases.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: raster-reference DIR\n");
        return 2;
    }
    for (const auto& c : raster_cases::cases())
        for (const int32_t scale : {1, 2}) {
            platform::Bitmap* b = raster_cases::render(c.name, scale);
            const std::string path =
                std::string(argv[1]) + "/" + c.name + (scale == 1 ? "" : "-2x") + ".bmp";
            const bool ok = b && raster_cases::writeBmp(b, path, scale);
            platform::deleteBitmap(b);
            if (!ok) {
                std::fprintf(stderr, "raster-reference: cannot write %s\n", path.c_str());
                return 1;
            }
        }
    return 0;
}
