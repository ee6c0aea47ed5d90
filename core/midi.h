// SPDX-License-Identifier: GPL-3.0-or-later
// Reading one MIDI message from raw bytes: the only MIDI parser in Corvex. The synth's MIDI entry
// uses it, and a face that routes some messages elsewhere (the standalone's program changes)
// asks it what a message is instead of reading status bytes itself. Pure functions: any thread,
// no allocation.
//
// What counts as a message: bytes[0] is a channel status byte (0x80-0xEF) and the data bytes its
// kind needs follow. Each call is one whole message, as VST2 event records, LV2 MIDI atoms and
// JACK MIDI events all carry them, so running status (a message that starts with a data byte) is
// not continued from an earlier call. Ignored, as no message: null or empty input, data without
// status, system messages (0xF0-0xFF, SysEx included) and a message shorter than its kind needs.
// Bytes after the message are ignored. A data byte is read as its low seven bits.
#pragma once

#include <cstddef>
#include <cstdint>

enum class MidiKind : uint8_t {
    kNone = 0,  // not a channel message, or cut short
    kNoteOff,
    kNoteOn,  // velocity 0 is reported as kNoteOff, as MIDI defines it
    kPolyPressure,
    kControlChange,
    kProgramChange,
    kChannelPressure,
    kPitchBend,
};

struct DecodedMidi {
    MidiKind kind = MidiKind::kNone;
    uint8_t channel = 0;  // 0-15
    uint8_t data1 = 0;    // note, controller or program (7 bits)
    uint8_t data2 = 0;    // velocity or value (7 bits); 0 for one-byte kinds
    // A pitch bend's 14-bit value, 0-16383 with 8192 at rest.
    int32_t bendValue() const { return data2 * 128 + data1; }
};

// The bytes a message with this status byte needs, status included: 3, 2, or 0 for a byte that
// starts no channel message.
std::size_t midiMessageLength(uint8_t status);

// The message at bytes (size of them); kind kNone when it is none.
DecodedMidi decodeMidi(const uint8_t* bytes, std::size_t size);
