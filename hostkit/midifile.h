// SPDX-License-Identifier: GPL-3.0-or-later
// Standard MIDI File reader (formats 0 and 1) and its conversion to sample-exact event times.
//
// The reader is strict about structure: anything truncated, mis-sized or out of range is refused
// with a MidiFileError naming the place, rather than guessed at. Unknown chunks are skipped, as
// the file format asks. Of the track events only note off/on, control change and pitch bend are
// kept; tempo changes drive the timing; everything else is read past.
#pragma once

#include "hostkit/midievent.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostkit {

class MidiFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Files larger than this are refused before reading; real songs are a few hundred kilobytes.
constexpr std::size_t kMaxMidiFileBytes = 64u << 20;

struct MidiMessage {
    int64_t tick = 0;
    int32_t track = 0;
    std::array<uint8_t, 3> bytes{};
};

struct TempoChange {
    int64_t tick = 0;
    uint32_t microsPerQuarter = 500000;
};

class MidiFile {
public:
    // Throws MidiFileError when the data is not a well-formed format 0 or 1 file.
    static MidiFile parse(const uint8_t* data, std::size_t size);
    // Reads and parses a file; throws MidiFileError for unreadable files too.
    static MidiFile load(const std::string& path);

    int format() const { return fileFormat; }
    int trackCount() const { return tracks; }
    // Ticks per quarter note, or 0 for a file timed in SMPTE frames.
    int ticksPerQuarter() const { return ppq; }

    // Kept channel messages of all tracks in one list: by tick, then by track, then in file order.
    const std::vector<MidiMessage>& messages() const { return merged; }
    // Tempo changes by tick; at equal ticks the later one in the list wins.
    const std::vector<TempoChange>& tempoChanges() const { return tempos; }

    // The sample frame of a tick at an integral sample rate, rounded to the nearest frame
    // (halves up). Exact: the tempo map is summed in integers, never in floating point.
    int64_t frameAt(int64_t tick, uint32_t sampleRate) const;
    // Every kept message with its frame, ordered as messages().
    std::vector<TimedMidiEvent> schedule(uint32_t sampleRate) const;

private:
    int fileFormat = 0;
    int tracks = 0;
    int ppq = 0;
    int smpteFps = 0;  // 24, 25, 29 (meaning 30000/1001) or 30
    int smpteTicksPerFrame = 0;
    std::vector<MidiMessage> merged;
    std::vector<TempoChange> tempos;
};

}  // namespace hostkit
