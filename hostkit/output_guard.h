// SPDX-License-Identifier: GPL-3.0-or-later
// What a host leaves in its output buffers to see which samples a plug-in wrote: a NaN no
// arithmetic produces, so a written sample (even a NaN the plug-in computed) never matches it.
// Pure functions: any thread.
#pragma once

#include <cstdint>
#include <cstring>

namespace hostkit {

constexpr uint32_t kGuardBits = 0x7FC0DEADu;

inline float guardValue() {
    float f;
    std::memcpy(&f, &kGuardBits, sizeof f);
    return f;
}

// Bit for bit: a comparison of floats would never see a NaN as equal.
inline bool isGuard(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits == kGuardBits;
}

}  // namespace hostkit
