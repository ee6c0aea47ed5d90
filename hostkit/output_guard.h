// SPDX-License-Identifier: GPL-3.0-or-later
// What a host leaves in its output buffers to see which samples a plug-in wrote: a NaN no
// arithmetic produces, so a written sample (even a NaN the plug-in computed) never matches it.
// Pure functions: any thread.
#pragma once

#include <cstdint>
#include <bit>

namespace hostkit {

constexpr uint32_t kGuardBits = 0x7FC0DEADu;

inline float guardValue() { return std::bit_cast<float>(kGuardBits); }

// Bit for bit: a comparison of floats would never see a NaN as equal.
inline bool isGuard(float f) { return std::bit_cast<uint32_t>(f) == kGuardBits; }

}  // namespace hostkit
