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
platform::Bitmap* render(const std::string& name);

// A 24-bit Windows bitmap file of a colour bitmap; false on any failure.
bool writeBmp(platform::Bitmap* bitmap, const std::string& path);

}  // namespace raster_cases
