// SPDX-License-Identifier: GPL-3.0-or-later
// The piano key map.
#include "standalone/keymap.h"

namespace corvex_standalone {

namespace {

struct KeyNote {
    uint32_t scancode;
    int32_t note;
};

constexpr int32_t kC3 = 48;
constexpr int32_t kC4 = 60;

constexpr KeyNote kMap[] = {
    // The Z-row and the row above it for the black keys.
    {44, kC3 + 0},
    {31, kC3 + 1},
    {45, kC3 + 2},
    {32, kC3 + 3},
    {46, kC3 + 4},
    {47, kC3 + 5},
    {34, kC3 + 6},
    {48, kC3 + 7},
    {35, kC3 + 8},
    {49, kC3 + 9},
    {36, kC3 + 10},
    {50, kC3 + 11},
    {51, kC3 + 12},
    {38, kC3 + 13},
    {52, kC3 + 14},
    {39, kC3 + 15},
    {53, kC3 + 16},
    // The Q-row and the digits above it.
    {16, kC4 + 0},
    {3, kC4 + 1},
    {17, kC4 + 2},
    {4, kC4 + 3},
    {18, kC4 + 4},
    {19, kC4 + 5},
    {6, kC4 + 6},
    {20, kC4 + 7},
    {7, kC4 + 8},
    {21, kC4 + 9},
    {8, kC4 + 10},
    {22, kC4 + 11},
    {23, kC4 + 12},
    {10, kC4 + 13},
    {24, kC4 + 14},
    {11, kC4 + 15},
    {25, kC4 + 16},
};

}  // namespace

int32_t noteForKey(uint32_t scancode, int32_t octaveShift) {
    if (octaveShift < -kMaxOctaveShift || octaveShift > kMaxOctaveShift) return -1;
    for (const KeyNote& k : kMap)
        if (k.scancode == scancode) {
            const int32_t note = k.note + 12 * octaveShift;
            return note >= 0 && note <= 127 ? note : -1;
        }
    return -1;
}

}  // namespace corvex_standalone
