// SPDX-License-Identifier: GPL-3.0-or-later
// One MIDI message from raw bytes.
#include "core/midi.h"

std::size_t midiMessageLength(uint8_t status) {
    switch (status & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0: return 3;
    case 0xC0:
    case 0xD0: return 2;
    default: return 0;  // data bytes and system messages
    }
}

DecodedMidi decodeMidi(const uint8_t* bytes, std::size_t size) {
    DecodedMidi m;
    if (!bytes || size == 0) return m;
    const std::size_t length = midiMessageLength(bytes[0]);
    if (length == 0 || size < length) return m;
    m.channel = bytes[0] & 0x0F;
    m.data1 = bytes[1] & 0x7F;
    m.data2 = length == 3 ? bytes[2] & 0x7F : 0;
    switch (bytes[0] & 0xF0) {
    case 0x80: m.kind = MidiKind::kNoteOff; break;
    case 0x90: m.kind = m.data2 > 0 ? MidiKind::kNoteOn : MidiKind::kNoteOff; break;
    case 0xA0: m.kind = MidiKind::kPolyPressure; break;
    case 0xB0: m.kind = MidiKind::kControlChange; break;
    case 0xC0: m.kind = MidiKind::kProgramChange; break;
    case 0xD0: m.kind = MidiKind::kChannelPressure; break;
    default: m.kind = MidiKind::kPitchBend; break;
    }
    return m;
}
