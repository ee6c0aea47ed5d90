// Corvex: the monophonic texture synthesizer effect. Thirty partials read one shaped wave table,
// each scaled by its own LFO, under a linear ADSR envelope; fourteen parameters, 64 programs.
//
// Threads. Hosts render on an audio thread and change parameters from their user-interface
// thread (or from automation on either), so the calls fall in two groups:
// - Audio thread only, one at a time: processReplacing, process, processEvents, and
//   setSampleRate / setBlockSize / open / suspend / resume while the effect is not rendering.
// - Any thread, at any time, also while a block renders: setParameter, getParameter,
//   getParameterName / Label / Display.
// - Program selection and program names (setProgram, setCurProgram, setProgramName,
//   getProgramName, getProgramNameIndexed) may come from any thread while a block renders, but
//   hosts make them one at a time, as they make every dispatcher request outside the audio path.
// What the engine guarantees: the fourteen current values are atomics, so each change is handed
// over whole, without a data race. A block renders from one consistent snapshot of them, taken
// when it starts; a change made while a block renders is heard from the next block. Changes
// made between blocks are heard exactly as if a single thread had made them.
#pragma once

#include "host/audioeffectx.h"

#include <atomic>
#include <cstdint>

enum CorvexParam : int32_t {
    kLfoFreq = 0,
    kLfoHarm,
    kOscHarm,
    kLfoShrp,
    kLfoCent,
    kLfoPh,
    kLfoAmnt,
    kOscDamp,
    kAttack,
    kDecay,
    kSustain,
    kRelease,
    kLfoRand,
    kOscShap,
    kNumParams
};

constexpr int32_t kNumPrograms = 64;
constexpr int kNumPartials = 30;
// Per-partial arrays are padded to whole vector lanes; the padding never reaches the output.
constexpr int kLanes = 32;
constexpr int kTableSize = 1024;
constexpr int kProgramNameSize = 24;

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

// Parameter indices in the order their fields are declared.
extern const int32_t kDeclaredOrder[kNumParams];

// The effect's fourteen current values, in declared order, as relaxed atomics: written by
// setParameter from any thread and read by the render loop once per block. Relaxed order is
// enough because each value stands alone; on x86 the loads and stores are plain moves.
class CurrentValues {
public:
    CurrentValues() = default;
    CurrentValues(const CurrentValues& other) { *this = other; }
    CurrentValues& operator=(const CurrentValues& other) {
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
    char name[kProgramNameSize];
};

// Factory bank: 64 x 14 values in parameter-index order, and the 64 names.
extern const float presets[kNumPrograms * kNumParams];
extern const char* const prognames[kNumPrograms];

// Reads a leading decimal number as a "%f" scan does and stores it clamped to 0-1; a text with
// no number leaves `value` as it was. Returns whether a number was read.
bool string2float(const char* text, float& value);

// The generator behind the effect's random draws: the classic C library sequence, 0-32767,
// one per effect instance so instances never disturb each other and renders repeat exactly.
class RandomGenerator {
public:
    int next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
    uint32_t state = 1;
};

enum EnvStage : int32_t { kAttackStage = 1, kDecayStage, kSustainStage, kReleaseStage, kIdleStage };
enum PendingEvent : int32_t { kNoEvent = 0, kNoteOnEvent = 1, kNoteOffEvent = 2 };

// Makes the editor of a new effect (which registers itself with it), or null for none. The
// plug-in's factory supplies it: the engine itself knows nothing of windows.
using EditorFactory = AEffEditor* (*)(AudioEffect* effect);

class Corvex : public AudioEffectX {
public:
    // The editor is made last, once the effect is complete (none without a factory).
    explicit Corvex(audioMasterCallback audioMaster, EditorFactory makeEditor = nullptr);
    ~Corvex() override;
    // The effect owns its program bank and its editor by raw pointer: a copy would free both
    // twice, and the editor is bound to this one object.
    Corvex(const Corvex&) = delete;
    Corvex& operator=(const Corvex&) = delete;
    Corvex(Corvex&&) = delete;
    Corvex& operator=(Corvex&&) = delete;

    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void process(float** inputs, float** outputs, int32_t sampleFrames) override;
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
    void open() override;
    void setProgram(int32_t program) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    void setBlockSize(int32_t blockSize) override;
    void suspend() override;
    void resume() override;
    int32_t processEvents(VstEvents* events) override;
    bool string2parameter(int32_t index, char* text) override;
    bool getProgramNameIndexed(int32_t category, int32_t index, char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    int32_t vendorSpecific(int32_t lArg1, intptr_t lArg2, void* ptrArg, float floatArg) override;
    int32_t canDo(char* text) override;
    bool keysRequired() override;
    virtual void setCurProgram();

    void noteOn(int32_t note, int32_t velocity, int32_t delta);
    void noteOff(int32_t delta);
    static float note2freq(int32_t note);
    static float powint(float x, int32_t n);
    void initShapedTable();

    // What the render loop derives from the parameters, note, bend and sample rate at the
    // start of a sounding block, and the envelope values it reads while the block renders.
    struct BlockValues {
        alignas(16) float oscStep[kLanes];
        alignas(16) float lfoStep[kLanes];
        alignas(16) float amplitude[kLanes];
        float damping;
        float recipSampleTime;
        float invAttack, invDecay, invRelease;
        float outputGain;
        // Made safe (clamped to 0-1, NaN as 0), from the same snapshot as everything above.
        float attack, decay, sustain, release;
        float lfoRand, lfoAmnt;
    };
    // From a fresh snapshot of the current values (for tests and tools).
    BlockValues blockValues();

    // Derived tables and steps are kept until one of their inputs changes (on by default);
    // off, every sounding block derives everything afresh. Both give the same samples.
    void setDerivedCaching(bool on) {
        derivedCaching = on;
        invalidateDerived();
    }

    // Read-only views for tests and tools.
    const Program* getPrograms() const { return programs; }
    ParamValues currentValues() const { return params.snapshot(); }
    int32_t getCurrentNote() const { return currentNote; }
    float getPitchBend() const { return pitchBend; }
    float getEnvLevel() const { return envLevel; }
    int32_t getEnvStage() const { return envStage; }
    int32_t getEnvCounter() const { return envCounter; }
    int32_t getPendingEvent() const { return pendingEvent; }
    int32_t getPendingDelta() const { return pendingDelta; }
    const float* getSineTable() const { return sineTable; }
    const float* getShapedTable() const { return shapedTable; }
    const float* getUnipolarTable() const { return unipolarTable; }
    const float* getLfoTable() const { return lfoTable; }
    const float* getLfoPhaseOffsets() const { return lfoPhaseOffset; }

    // Text answers to the host never exceed this many bytes, terminator included.
    static constexpr std::size_t kMaxTextBytes = 24;
    // Parameter names, labels and display texts: the host interface's 8 characters and the
    // terminator, since hosts size their buffers for that.
    static constexpr std::size_t kMaxParamTextBytes = 9;

private:
    // Every derivation below reads `p`, the block's snapshot with each value made safe.
    BlockValues blockValues(const ParamValues& p);
    void startAttack(float attack);
    void startRelease();
    void takePendingEvent();
    void updatePhaseOffsets(const ParamValues& p);
    void buildLfoTable(const ParamValues& p);
    void initShapedTable(const ParamValues& p);
    void computePartialBank(const ParamValues& p, BlockValues& b);
    void advanceEnvelope(int32_t sample, const BlockValues& b);
    void drawGate(int partial, float lfoRand);
    void renderPartials(double* product, const BlockValues& b);
    void invalidateDerived();

    Program* programs = nullptr;
    CurrentValues params;
    RandomGenerator random;

    // Engine state, in the order the render loop's description gives it.
    float envLevel = 0.0f;
    int32_t currentNote = 0;
    int32_t pendingDelta = 0;
    int32_t pendingEvent = kNoEvent;
    float pitchBend = 1.0f;
    int32_t envCounter = 0;
    float releaseLevel = 0.0f;
    int32_t envStage = kIdleStage;
    float lastLfoPh = 0.0f;
    float sineTable[kTableSize + 1] = {};
    float shapedTable[kTableSize + 1] = {};
    float unipolarTable[kTableSize + 1] = {};
    float lfoTable[kTableSize + 1] = {};
    alignas(16) float oscPhase[kLanes] = {};
    alignas(16) float lfoPhase[kLanes] = {};
    alignas(16) float lfoPhaseOffset[kLanes] = {};
    alignas(16) float partialGate[kLanes] = {};

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
    BlockValues bank{};
    struct OffsetsKey {
        bool valid = false;
        float lfoPh = 0.0f;
    } offsetsKey;
};
