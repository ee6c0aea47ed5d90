// SPDX-License-Identifier: GPL-3.0-or-later
// Three-byte messages into the core's MIDI entry, for tests that write scores as status and data
// bytes. Any thread that owns the synth.
#pragma once

#include "core/synth.h"

#include <cstdint>

inline bool sendMidi(CorvexSynth& synth, uint8_t status, uint8_t data1, uint8_t data2,
                     int32_t frame, int32_t blockFrames = CorvexSynth::kCarryBeyondBlock) {
    const uint8_t bytes[] = {status, data1, data2};
    return synth.midi(bytes, sizeof bytes, frame, blockFrames);
}
