// SPDX-License-Identifier: GPL-3.0-or-later
// CorvexSynth: the monophonic texture synthesizer with no plug-in format in it. Thirty partials
// read one shaped wave table, each scaled by its own LFO, under a linear ADSR envelope; fourteen
// parameters, a bank of 64 programs. Each face (a plug-in format, the standalone) owns one and
// translates its host's calls into these.
//
// Threads. The calls fall in three groups:
// - Audio thread only, one at a time: midi, render, and setSampleRate / setBlockSize / reset
//   while nothing renders.
// - Any thread, at any time, also while a block renders: setParameter, getParameter and the
//   parameter texts.
// - Program selection and names (setProgram, setProgramName, getProgramName,
//   getProgramNameIndexed): any thread while a block renders, but one such call at a time.
// The fourteen current values are atomics, so each change is handed over whole, without a data
// race. A block renders from one consistent snapshot of them, taken when it starts; a change made
// while a block renders is heard from the next block. Changes made between blocks are heard
// exactly as if a single thread had made them. Nothing here allocates after construction, locks,
// or makes a system call on the audio path.
#pragma once

#include "core/event_queue.h"
#include "core/kernel.h"
#include "core/params.h"

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr int kNumPartials = 30;
// Per-partial arrays are padded to whole vector lanes of the widest kernel and aligned to them;
// the padding never reaches the output.
constexpr int kLanes = 32;
constexpr int kTableSize = 1024;

// The fourteen values grouped by function: the order of the current values and of a program.
struct ParamValues {
    float lfoFreq = 0.0f;
    float lfoHarm = 0.0f;
    float oscHarm = 0.0f;
    float lfoShrp = 0.0f;
    float lfoCent = 0.0f;
    float lfoPh = 0.0f;
    float lfoAmnt = 0.0f;
    float lfoRand = 0.0f;
    float oscDamp = 0.0f;
    float oscShap = 0.0f;
    float attack = 0.0f;
    float decay = 0.0f;
    float sustain = 0.0f;
    float release = 0.0f;

    // The field a parameter index names; null outside 0-13.
    float* field(int32_t index);
    const float* field(int32_t index) const { return const_cast<ParamValues*>(this)->field(index); }
};

// The fields in declared order (the order of the current values), for loops over all fourteen
// that run every block: cheaper than looking each field up by its parameter index.
inline constexpr float ParamValues::*kFieldsInDeclaredOrder[kNumParams] = {
    &ParamValues::lfoFreq, &ParamValues::lfoHarm, &ParamValues::oscHarm, &ParamValues::lfoShrp,
    &ParamValues::lfoCent, &ParamValues::lfoPh,   &ParamValues::lfoAmnt, &ParamValues::lfoRand,
    &ParamValues::oscDamp, &ParamValues::oscShap, &ParamValues::attack,  &ParamValues::decay,
    &ParamValues::sustain, &ParamValues::release,
};

// The fourteen current values, in declared order, as relaxed atomics: written by setParameter
// from any thread and read by the render loop once per block. Relaxed order is enough because
// each value stands alone; on x86 the loads and stores are plain moves.
class CurrentValues {
public:
    CurrentValues() = default;
    CurrentValues(const CurrentValues& other) { *this = other; }
    CurrentValues& operator=(const CurrentValues& other) {
        if (this == &other) return *this;
        for (int32_t i = 0; i < kNumParams; ++i)
            slots[i].store(other.slots[i].load(std::memory_order_relaxed),
                           std::memory_order_relaxed);
        return *this;
    }

    // The value a parameter index names; 0.0 outside 0-13.
    float load(int32_t index) const;
    // Stores the value; false (nothing stored) outside 0-13.
    bool store(int32_t index, float value);
    // All fourteen, each read once.
    ParamValues snapshot() const;

private:
    std::atomic<float> slots[kNumParams] = {};
    static_assert(std::atomic<float>::is_always_lock_free);
    static_assert(sizeof(std::atomic<float>) == sizeof(float));
};

struct Program {
    Program();
    // Fills this program from table[index * 14 ...], which is in parameter-index order.
    void init(const float* table, int index);

    ParamValues values;
    char name[kProgramNameSize] = {};
};

// The generator behind the synth's random draws: the classic C library sequence, 0-32767, one per
// instance so instances never disturb each other and renders repeat exactly.
class RandomGenerator {
public:
    int next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
    uint32_t state = 1;
};

enum EnvStage : int32_t { kAttackStage = 1, kDecayStage, kSustainStage, kReleaseStage, kIdleStage };

class CorvexSynth {
public:
    // The bank is filled from the factory programs and the current values are program 0's.
    CorvexSynth();
    ~CorvexSynth();
    // Owns its bank by pointer: a copy would free it twice.
    CorvexSynth(const CorvexSynth&) = delete;
    CorvexSynth& operator=(const CorvexSynth&) = delete;

    // ---- Set-up (audio thread, nothing rendering) ----
    void setSampleRate(float rate) { sampleRate = rate; }
    float getSampleRate() const { return sampleRate; }
    // Kept for faces that report it; the engine renders any frame count it is given.
    void setBlockSize(int32_t size) { blockSize = size; }
    int32_t getBlockSize() const { return blockSize; }
    // Builds the fixed tables and puts the oscillators at rest: before the first render.
    void reset();

    // ---- Parameters (any thread) ----
    // Stores the value as given (no clamping: the engine reads it made safe) in the current values
    // and in the current program. False for an index outside 0-13.
    bool setParameter(int32_t index, float value);
    float getParameter(int32_t index) const { return params.load(index); }
    ParamValues currentValues() const { return params.snapshot(); }

    // ---- Programs (one call at a time) ----
    // Makes program the current one and its values the current values. False (nothing changes)
    // for a program outside 0-63.
    bool setProgram(int32_t program);
    int32_t getProgram() const;
    // At most 23 characters are kept; null is ignored.
    void setProgramName(const char* name);
    // Writes the current program's name into name (kProgramNameSize bytes); "" without a bank.
    void getProgramName(char* name) const;
    // A program's name by index, for hosts listing the bank; "Init" programs are numbered.
    bool getProgramNameIndexed(int32_t index, char* text) const;
    const Program* getPrograms() const { return programs; }

    // ---- MIDI (audio thread, before the render of the block it belongs to) ----
    // The one way MIDI reaches the synth: one whole message as raw bytes (core/midi.h says what
    // is read and what is ignored), at frame, its offset in the coming block. Every event takes
    // effect at its own frame while the block renders, events of one frame in the order they
    // came: note-on and note-off (any channel; the note-off only for the note sounding at its
    // frame; velocity ignored), all-notes-off and mono-mode-on (controllers 123 and 126) release,
    // pitch bend (+-4 semitones) retunes from its frame on; everything else is ignored.
    //
    // A frame before the block counts as its first. A frame at or beyond the block's end follows
    // the rule the face asks for with blockFrames:
    // - the block's length, for faces that know it when the events arrive and whose events lie
    //   within the block by contract (LV2 run, the JACK and ALSA callbacks): the event is moved
    //   to the block's last frame, so nothing leaks into a later block of another length;
    // - kCarryBeyondBlock, for faces that learn the length only when the block renders (VST2,
    //   whose events come before processReplacing): the event waits, counted down block by
    //   block, and takes effect at its frame in a later block.
    // Events are queued (event_queue.h says how many and what happens beyond). Returns whether
    // the message was one the voice acts on.
    static constexpr int32_t kCarryBeyondBlock = -1;
    bool midi(const uint8_t* bytes, std::size_t size, int32_t frame, int32_t blockFrames);

    // ---- Audio (audio thread) ----
    // Writes frames samples of the voice into left and right (the same values); nothing when a
    // pointer is null or frames <= 0. An unusable sample rate gives silence.
    void render(float* left, float* right, int32_t frames);

    // ---- For tests and tools ----
    static float note2freq(int32_t note);
    static float powint(float x, int32_t n);
    void initShapedTable();

    // What the render loop derives from the parameters, note, bend and sample rate at the
    // start of a sounding block, and the envelope values it reads while the block renders.
    struct BlockValues {
        alignas(kLaneAlignment) float oscStep[kLanes];
        alignas(kLaneAlignment) float lfoStep[kLanes];
        alignas(kLaneAlignment) float amplitude[kLanes];
        float damping;
        float recipSampleTime;
        float invAttack, invDecay, invRelease;
        float outputGain;
        // Made safe (clamped to 0-1, NaN as 0), from the same snapshot as everything above.
        float attack, decay, sustain, release;
        float lfoRand, lfoAmnt;
    };
    // From a fresh snapshot of the current values.
    BlockValues blockValues();

    // Derived tables and steps are kept until one of their inputs changes (on by default);
    // off, every sounding block derives everything afresh. Both give the same samples.
    void setDerivedCaching(bool on) {
        derivedCaching = on;
        invalidateDerived();
    }

    // The kernel this synth renders with: activeKernel() unless set. Set-up only (audio thread,
    // nothing rendering); every kernel gives the same samples.
    void setKernel(const Kernel& k) { kernel = &k; }
    const Kernel& getKernel() const { return *kernel; }

    int32_t getCurrentNote() const { return currentNote; }
    float getPitchBend() const { return pitchBend; }
    float getEnvLevel() const { return envLevel; }
    int32_t getEnvStage() const { return envStage; }
    int32_t getEnvCounter() const { return envCounter; }
    // Events waiting for their frame, and those a full queue dropped or merged.
    int32_t getQueuedEvents() const { return events.size(); }
    uint32_t getOverflowedEvents() const { return events.overflowed(); }
    const float* getSineTable() const { return sineTable; }
    const float* getShapedTable() const { return shapedTable; }
    const float* getUnipolarTable() const { return unipolarTable; }
    const float* getLfoTable() const { return lfoTable; }
    const float* getLfoPhaseOffsets() const { return lfoPhaseOffset; }

private:
    // Every derivation below reads `p`, the block's snapshot with each value made safe.
    BlockValues blockValues(const ParamValues& p);
    void startAttack(float attack);
    void startRelease();
    // Applies one queued event; attack is the block's (made safe).
    void apply(const VoiceEvent& event, float attack);
    // Renders count frames from the voice's state as it is: no event falls inside them.
    void renderSpan(const ParamValues& stored, float* out1, float* out2, int32_t count);
    void updatePhaseOffsets(const ParamValues& p);
    void buildLfoTable(const ParamValues& p);
    void initShapedTable(const ParamValues& p);
    void computePartialBank(const ParamValues& p, BlockValues& b);
    // One sample of the envelope; says what the kernel does with the sample (a ChunkSample).
    uint8_t advanceEnvelope(const BlockValues& b);
    void invalidateDerived();

    const Kernel* kernel = &activeKernel();
    Program* programs = nullptr;
    int32_t curProgram = 0;  // through atomic_ref: parameter writes read it from any thread
    CurrentValues params;
    RandomGenerator random;
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;

    // The voice: envelope, note and bend, the tables, the partials' phases and gates, and the
    // events still to come.
    float envLevel = 0.0f;
    int32_t currentNote = 0;
    float pitchBend = 1.0f;
    int32_t envCounter = 0;
    float releaseLevel = 0.0f;
    int32_t envStage = kIdleStage;
    float lastLfoPh = 0.0f;
    float sineTable[kTableSize + 1] = {};
    float shapedTable[kTableSize + 1] = {};
    float unipolarTable[kTableSize + 1] = {};
    float lfoTable[kTableSize + 1] = {};
    alignas(kLaneAlignment) float oscPhase[kLanes] = {};
    alignas(kLaneAlignment) float lfoPhase[kLanes] = {};
    alignas(kLaneAlignment) float lfoPhaseOffset[kLanes] = {};
    alignas(kLaneAlignment) float partialGate[kLanes] = {};
    VoiceEventQueue events;

    // What each cached derivation was last made from.
    bool derivedCaching = true;
    struct ShapedKey {
        bool valid = false;
        float oscShap = 0.0f;
    } shapedKey;
    struct LfoKey {
        bool valid = false;
        int32_t centre = 0, sharpness = 0;
        float depth = 0.0f;
    } lfoKey;
    struct BankKey {
        bool valid = false;
        int32_t note = 0;
        float bend = 0.0f, sampleRate = 0.0f;
        float oscHarm = 0.0f, oscDamp = 0.0f, lfoFreq = 0.0f, lfoHarm = 0.0f;
        bool operator==(const BankKey&) const = default;
    } bankKey;
    // The part of the bank that neither note nor bend changes: LFO steps, amplitudes, damping.
    struct LfoBankKey {
        bool valid = false;
        float sampleRate = 0.0f, oscDamp = 0.0f, lfoFreq = 0.0f, lfoHarm = 0.0f;
        bool operator==(const LfoBankKey&) const = default;
    } lfoBankKey;
    // Each partial's frequency ratio to the fundamental, from "OSC harm" alone.
    struct HarmonicKey {
        bool valid = false;
        float oscHarm = 0.0f;
    } harmonicKey;
    double harmonicRatio[kNumPartials] = {};
    BlockValues bank{};
    // What the last block's values were made from, compared bit for bit (a NaN is the same
    // NaN); the values themselves are kept in block.
    struct BlockKey {
        bool valid = false;
        ParamValues stored;
        float sampleRate = 0.0f, bend = 0.0f;
        int32_t note = 0;
        BlockKey() = default;
        BlockKey(bool v, const ParamValues& p, float rate, int32_t n, float b)
            : valid(v), stored(p), sampleRate(rate), bend(b), note(n) {}
        static bool sameBits(float a, float b) {
            return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
        }
        bool operator==(const BlockKey& other) const {
            return note == other.note && sameBits(bend, other.bend) && sameInputs(other);
        }
        // The same but for note and bend.
        bool sameInputs(const BlockKey& other) const {
            if (!valid || !other.valid || !sameBits(sampleRate, other.sampleRate)) return false;
            for (float ParamValues::*field : kFieldsInDeclaredOrder)
                if (!sameBits(stored.*field, other.stored.*field)) return false;
            return true;
        }
    } blockKey;
    BlockValues block{};
    ParamValues blockParams;  // what block was derived from, made safe
    // note2freq of every note, worked out once: a score retunes the voice at every note.
    float noteFrequency[128] = {};
    struct OffsetsKey {
        bool valid = false;
        float lfoPh = 0.0f;
    } offsetsKey;
};
