// SPDX-License-Identifier: GPL-3.0-or-later
// PeriodProcessor: one period of the standalone's sound, the same for every audio backend (JACK's
// process callback, the ALSA thread). The computer keyboard's notes first, at the period's first
// frame; then the MIDI input's messages at their frames: program changes go to the main thread,
// control changes bound by MIDI learn move their parameter at their frame (and are seen by the
// synth as nothing else), the rest go to the synth's MIDI entry; then the synth renders the
// period, cut where a bound controller moves a parameter, so the change is heard from its frame.
//
// Threads:
// - main thread: sendNote, takeProgramChange, setListener (before the audio runs), the getters;
// - the audio thread (one at a time): begin, midi, render. It allocates nothing, takes no lock
//   and makes no system call: notes and program changes cross in single-producer
//   single-consumer rings, counters are atomics.
#pragma once

#include "core/synth.h"
#include "standalone/midi_learn.h"
#include "standalone/ring.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvex_standalone {

// Told, on the audio thread, of each value a bound controller sets (the window records it
// lock-free and shows it at its next idle).
class ParameterListener {
public:
    virtual ~ParameterListener() = default;
    virtual void parameterMoved(int32_t index, float value) = 0;
};

class PeriodProcessor {
public:
    PeriodProcessor(CorvexSynth& synth, MidiLearn& learn) : synth(synth), learn(learn) {}

    // ---- Main thread ----
    // A channel message for the synth at the start of the next period (the computer keyboard).
    // False when the ring is full.
    bool sendNote(MidiMessage message) { return notes.push(message); }
    // A program change that came in through MIDI (0-127, as sent); false when none is waiting.
    // Only the latest counts: the synth would pass through the others unheard.
    bool takeProgramChange(int32_t& program);
    void setListener(ParameterListener* l) { listener = l; }
    // Channel messages the MIDI input delivered so far.
    uint32_t midiEvents() const { return midiCount.load(std::memory_order_relaxed); }

    // ---- Audio thread ----
    // Starts a period of frames at rate: a new rate reaches the synth (every value derived from
    // the rate follows at its next render; the voice goes on), and the keyboard's notes are
    // taken at the first frame.
    void begin(int32_t frames, uint32_t rate);
    // One MIDI message at frame of this period (clamped into it).
    void midi(const uint8_t* bytes, std::size_t size, int32_t frame);
    // Renders the period into left and right.
    void render(float* left, float* right);

private:
    struct Move {
        int32_t frame;
        int32_t index;
        float value;
    };
    // Moves beyond this in one period set their parameter at the period's end instead.
    static constexpr int32_t kMaxMoves = 256;

    CorvexSynth& synth;
    MidiLearn& learn;
    ParameterListener* listener = nullptr;
    SpscRing<MidiMessage, 256> notes;
    SpscRing<uint8_t, 64> programChanges;
    std::atomic<uint32_t> midiCount{0};
    uint32_t synthRate = 0;
    int32_t frames = 0;
    Move moves[kMaxMoves] = {};
    int32_t moveCount = 0;
    float lateValue[kNumParams] = {};
    bool late[kNumParams] = {};
};

}  // namespace corvex_standalone
