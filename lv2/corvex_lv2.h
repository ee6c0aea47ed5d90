// SPDX-License-Identifier: GPL-3.0-or-later
// CorvexLv2: the synth's LV2 face. It owns a CorvexSynth, takes the fourteen control ports once
// per run as the VST2 face takes setParameter (stored as given, made safe by the core when it
// renders), hands the MIDI events of the run's atom sequence to the core at their frames, and
// renders into the two output ports. It adds no sound of its own.
//
// What bad input gets:
// - a control port left unconnected keeps the last value read from it (program 0's at first);
//   a non-finite or out-of-range value plays as the core plays it (clamped to 0-1, NaN as 0);
// - an unconnected output renders into the other one, or with neither into scratch memory, so
//   the voice keeps time;
// - event times are read as frames whatever the sequence's unit says, unless it says beats: hosts
//   give an instrument's MIDI input in frames, and some (Ardour 7) leave the unit unset;
// - an event timed before the run counts as its first frame, one at or beyond the run's length
//   as its last (a later run may be of any length, so nothing is carried over); the events of a
//   run of 0 frames take effect at the first frame of the next;
// - events out of order take effect at their frames all the same (the core orders them);
// - atoms that are not MIDI events, and MIDI the core does not read as a whole channel message
//   (core/midi.h): skipped;
// - a sequence whose size is smaller than its header, or an event that does not fit inside the
//   sequence's stated size: reading stops there; a sequence timed in beats plays at frame 0.
//
// Threads, as LV2 groups a plug-in's calls: the constructor, connectPort, activate and the
// destructor come from the host's instantiation thread, never during run; run comes from the
// audio thread, one call at a time. run allocates nothing, locks nothing and calls the system
// for nothing.
#pragma once

#include "core/synth.h"
#include "lv2/bundle.h"

#include <cstdint>

namespace corvex_lv2 {

// URIDs the face compares events against, mapped by the host when the instance is made.
struct Urids {
    uint32_t atomSequence = 0;
    uint32_t midiEvent = 0;
    uint32_t beatTime = 0;
};

class CorvexLv2 {
public:
    // maxBlock is the host's announced largest run, or 0 when it gave none.
    CorvexLv2(double sampleRate, const Urids& urids, int32_t maxBlock);
    CorvexLv2(const CorvexLv2&) = delete;
    CorvexLv2& operator=(const CorvexLv2&) = delete;

    // Ports outside 0-16 are ignored.
    void connectPort(uint32_t port, void* data);
    // Puts the voice at rest, before the first run and after every deactivation.
    void activate();
    void run(uint32_t frames);

    CorvexSynth& core() { return synth; }

private:
    void takeControls();
    void takeEvents(uint32_t frames);
    void render(uint32_t frames);

    CorvexSynth synth;
    Urids urids;
    const float* controls[kNumParams] = {};
    const void* events = nullptr;
    float* left = nullptr;
    float* right = nullptr;
    // Where a run renders with neither output connected.
    static constexpr int32_t kScratchFrames = 256;
    float scratch[kScratchFrames] = {};
};

}  // namespace corvex_lv2
