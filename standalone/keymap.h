// SPDX-License-Identifier: GPL-3.0-or-later
// The computer keyboard as a piano: which physical key plays which note. Keys are PC scan codes
// (the same on every layout), so the rows stay rows on AZERTY and Dvorak keyboards too.
//
//   Z-row from C3:  Z C3, S C#3, X D3, D D#3, C E3, V F3, G F#3, B G3, H G#3, N A3, J A#3, M B3,
//                   , C4, L C#4, . D4, ; D#4, / E4
//   Q-row from C4:  Q C4, 2 C#4, W D4, 3 D#4, E E4, R F4, 5 F#4, T G4, 6 G#4, Y A4, 7 A#4, U B4,
//                   I C5, 9 C#5, O D5, 0 D#5, P E5
//   - one octave down, = one octave up (three each way at most)
//
// C3 is MIDI note 48 here (C4 = 60, as corvex-render names notes). Plain functions: any thread.
#pragma once

#include <cstdint>

namespace corvex_standalone {

constexpr uint32_t kOctaveDownKey = 12;  // '-'
constexpr uint32_t kOctaveUpKey = 13;    // '='
constexpr int32_t kMaxOctaveShift = 3;
constexpr uint8_t kKeyboardVelocity = 100;

// The MIDI note a key plays with the octave shift (-3..3), or -1 for a key that plays none.
int32_t noteForKey(uint32_t scancode, int32_t octaveShift);

}  // namespace corvex_standalone
