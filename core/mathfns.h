// SPDX-License-Identifier: GPL-3.0-or-later
// The double-precision functions the engine takes from mathematics: one implementation for every
// platform.
//
// C libraries disagree in the last bits of sin and pow (the 64-bit Windows runtime's pow is up to
// 9 units in the last place off for the note frequencies, its sin 306 units off near pi), and the
// plug-in must render the same samples wherever it runs. These use only IEEE additions,
// multiplications and divisions, so every build computes the same bits, and they return the
// correctly rounded result: pow first evaluates quickly (about 2^-64) and keeps that rounding only
// when its error bound cannot cross a rounding boundary, otherwise (about 1 call in 1500)
// it evaluates again in double-double (about 2^-104, so only a result within 2^-100 of a
// boundary could come out wrong). glibc's results are the correctly rounded
// ones almost everywhere, so on Linux the engine's values stay what the C library gave.
#pragma once

#include <cmath>

namespace mathfns {

// Sine of x. Correctly rounded for |x| < 2^19; beyond that (the engine never goes there) it is
// reduced with fmod first: the same answer everywhere, but no longer the exact one.
double sin(double x);

// x raised to y, with the special cases of the C library's pow (zeros, infinities, NaNs, negative
// bases with integer exponents). Results below the normal range are rounded twice.
double pow(double x, double y);

// The remainder is exactly representable, so every conforming C library returns the same bits.
inline double fmod(double x, double y) { return std::fmod(x, y); }

}  // namespace mathfns
