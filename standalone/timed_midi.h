// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI that arrives outside the audio thread's clock (the ALSA sequencer) and its placement in a
// period: a message stamped on arrival, the ring that carries it to the audio thread, and where in
// a period a stamp lands.
//
// Threads: plain values and a pure function, any thread; the ring has one producer thread (the
// MIDI thread) and one consumer thread (the audio thread).
#pragma once

#include "standalone/ring.h"

#include <algorithm>
#include <cstdint>
#include <ctime>

namespace corvex_standalone {

// CLOCK_MONOTONIC in nanoseconds: the clock both sides of the ring stamp by. Read from the vDSO on
// Linux, so no system call on the audio thread.
inline uint64_t monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
}

// One channel message and the CLOCK_MONOTONIC time it arrived at, in nanoseconds.
struct TimedMidi {
    uint64_t ns = 0;
    uint8_t bytes[3] = {};
    uint8_t size = 0;
};

// A burst of a thousand messages between two periods is far beyond any keyboard; beyond it the
// newest are dropped rather than the audio thread waiting.
using TimedMidiRing = SpscRing<TimedMidi, 1024>;

// The frame of the period now starting at which a message stamped eventNs plays, given that the
// previous period started rendering at previousStartNs: its distance from that start, in frames
// at rate, rounded, and kept inside the period. Everything heard is one period late, and in
// exchange messages keep their spacing instead of all playing at the first frame. A stamp before
// the previous period (a stall, the first period) plays at the first frame, one after it by a
// period or more at the last.
inline int32_t frameOfEvent(uint64_t eventNs, uint64_t previousStartNs, uint32_t rate,
                            int32_t frames) {
    if (frames <= 1 || rate == 0 || eventNs <= previousStartNs) return 0;
    // Beyond a second the answer is the last frame whatever the rate; capping first keeps the
    // product below 2^64 (2^30 ns times a rate below 2^32).
    const uint64_t since = std::min<uint64_t>(eventNs - previousStartNs, 1ull << 30);
    const uint64_t frame = (since * rate + 500000000ull) / 1000000000ull;
    return static_cast<int32_t>(std::min<uint64_t>(frame, static_cast<uint64_t>(frames - 1)));
}

// A message at a frame counted from the first frame played (the test seam, see
// parseScheduledMidi in standalone/options.h).
struct ScheduledMidi {
    uint64_t frame = 0;
    uint8_t bytes[3] = {};
    uint8_t size = 0;
};

}  // namespace corvex_standalone
