// SPDX-License-Identifier: GPL-3.0-or-later
// The drawing cases both rasters render (cairo on Linux, GDI under Wine) so that their pixels can
// be compared: each case draws through the toolkit into an off-screen surface of its own, and
// says how closely the two renderings must agree.
#pragma once

#include "platform/raster.h"

#include <cstdint>
#include <string>
#include <vector>

namespace raster_cases {

enum class Rule {
    exact,    // pixel for pixel
    outline,  // every differing pixel has a pixel of its colour within one pixel in the other
    smooth,   // anti-aliased: per-channel difference bounded (see the comparison)
    text,     // glyph shapes differ (font substitution): the ink's bounding box within 3 pixels
};

struct Case {
    const char* name;
    Rule rule;
};

const std::vector<Case>& cases();
// Renders the named case into a new colour bitmap (the caller deletes it); null when unknown.
// At a scale above 1 the bitmap is made at that scale (kSide design units, scale times as many
// device pixels each way) and the case is drawn into it directly.
platform::Bitmap* render(const std::string& name, int32_t scale = 1);

// A 24-bit Windows bitmap file of a colour bitmap; false on any failure. scale: the bitmap's (a
// window's image at 2x holds twice its design size each way).
bool writeBmp(platform::Bitmap* bitmap, const std::string& path, int32_t scale = 1);

}  // namespace raster_cases
