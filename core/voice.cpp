// SPDX-License-Identifier: GPL-3.0-or-later
// The sound engine: MIDI decoding, the monophonic voice, the oscillator and LFO banks, the
// envelope and the render loop.
//
// Rounding discipline: every expression is evaluated in double precision and rounded to a
// 32-bit float once, where its result is stored as a float. Changing where a value is rounded
// changes the output bits, so the casts below are deliberate.
//
// Runs on the host's audio thread: nothing here allocates, locks, logs or waits.
#include "core/kernel.h"
#include "core/mathfns.h"
#include "core/midi.h"
#include "core/synth.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>

namespace {

constexpr double kSemitone = 1.0594631433486938;  // the float nearest 2^(1/12), widened
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;

// The lowest rate at which every step stays small enough for the wrap loops; above the
// highest, the envelope's sample counters could overflow.
constexpr float kMinSampleRate = 1000.0f;
constexpr float kMaxSampleRate = 10000000.0f;

// Values are stored as the host sent them; the engine reads them through this, so an
// out-of-range or non-finite value can never drive a phase out of its table.
float safe(float v) {
    if (!(v >= 0.0f)) return 0.0f;  // negatives and NaN
    if (v > 1.0f) return 1.0f;
    return v;
}

bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

bool usableSampleRate(float rate) { return rate >= kMinSampleRate && rate <= kMaxSampleRate; }

// One read of the current values, each made safe: everything a block derives and every
// threshold it compares with comes from this, so a value another thread changes meanwhile
// cannot pair a new threshold with an old reciprocal.
ParamValues safeValues(const ParamValues& stored) {
    ParamValues p;
    for (float ParamValues::*field : kFieldsInDeclaredOrder) p.*field = safe(stored.*field);
    return p;
}

// The elapsed share of an envelope segment, t x (1 / length). At t = 0 the segment has only
// just begun, so the share is 0 even when the reciprocal of a subnormal length is infinite
// (0 x infinity would be NaN); for every t > 0 it is the plain product.
double elapsedShare(float t, float reciprocal) {
    return t == 0.0f ? 0.0 : static_cast<double>(t) * static_cast<double>(reciprocal);
}

}  // namespace

float CorvexSynth::note2freq(int32_t note) {
    return static_cast<float>(27.5 * mathfns::pow(kSemitone, static_cast<double>(note - 21)));
}

float CorvexSynth::powint(float x, int32_t n) {
    float result = 1.0f;
    for (int64_t bit = 1; bit <= n; bit <<= 1) {
        if (n & bit) result = result * x;
        x = x * x;
    }
    return result;
}

// ---- MIDI ------------------------------------------------------------------------------------

namespace {

// The bend's ratio for a 14-bit value: linear between the semitone ratio to the powers -4 and 4,
// each end rounded to a float.
float bendRatio(int32_t value) {
    const int32_t v = value - 8192;
    constexpr float lower = 0.793700397f;
    constexpr float upper = 1.2599213f;
    if (v < 0) return static_cast<float>(1.0 + static_cast<double>(1.0f - lower) * v / 8192.0);
    return static_cast<float>(1.0 + static_cast<double>(upper - 1.0f) * v / 8192.0);
}

}  // namespace

bool CorvexSynth::midi(const uint8_t* bytes, std::size_t size, int32_t frame, int32_t blockFrames) {
    const DecodedMidi m = decodeMidi(bytes, size);
    VoiceEvent event;
    switch (m.kind) {
    case MidiKind::kNoteOn:
        event.kind = VoiceEvent::kNoteOn;
        event.note = m.data1;
        break;
    case MidiKind::kNoteOff:
        event.kind = VoiceEvent::kNoteOff;
        event.note = m.data1;
        break;
    case MidiKind::kControlChange:
        // 123 is all-notes-off, 126 mono-mode-on, which MIDI says ends every note too.
        if (m.data1 != 123 && m.data1 != 126) return false;
        event.kind = VoiceEvent::kRelease;
        break;
    case MidiKind::kPitchBend:
        event.kind = VoiceEvent::kBend;
        event.bend = static_cast<uint16_t>(m.bendValue());
        break;
    default: return false;
    }
    // An event cannot take effect before the block starts.
    event.frame = frame > 0 ? frame : 0;
    if (blockFrames != kCarryBeyondBlock && event.frame >= blockFrames)
        event.frame = blockFrames > 0 ? blockFrames - 1 : 0;
    events.push(event);
    return true;
}

void CorvexSynth::startAttack(float attack) {
    envStage = kAttackStage;
    // Place the attack ramp where it already passes through the current level, so a new note
    // continues from the previous one instead of restarting from silence. From rest the level is
    // 0, and the ramp starts at its first sample.
    const float levelTime = static_cast<float>(static_cast<double>(envLevel) * safe(attack));
    const double counter = static_cast<double>(sampleRate) * static_cast<double>(levelTime);
    envCounter = (counter >= 0.0 && counter < 2147483647.0) ? static_cast<int32_t>(counter) : 0;
}

void CorvexSynth::startRelease() {
    // Also from rest: the release then runs at level 0 and the voice is idle again once it ends.
    envStage = kReleaseStage;
    envCounter = 0;
}

void CorvexSynth::apply(const VoiceEvent& event, float attack) {
    switch (event.kind) {
    case VoiceEvent::kNoteOn:
        currentNote = event.note;
        startAttack(attack);
        break;
    case VoiceEvent::kNoteOff:
        if (event.note == currentNote) startRelease();
        break;
    case VoiceEvent::kRelease: startRelease(); break;
    case VoiceEvent::kBend: pitchBend = bendRatio(event.bend); break;
    }
}

// ---- Tables ----------------------------------------------------------------------------------

void CorvexSynth::reset() {
    for (int i = 0; i < kTableSize; ++i) {
        const float x = static_cast<float>(i / 1024.0);
        sineTable[i] = static_cast<float>(
            mathfns::sin(static_cast<double>(x) * kTwoPi - static_cast<double>(kHalfPi)));
        unipolarTable[i] = static_cast<float>(static_cast<double>(sineTable[i]) * 0.5 + 0.5);
    }
    sineTable[kTableSize] = sineTable[0];
    unipolarTable[kTableSize] = unipolarTable[0];
    for (int i = 0; i < kNumPartials; ++i) {
        oscPhase[i] = 0.0f;
        lfoPhase[i] = 0.0f;
        partialGate[i] = 1.0f;
    }
    events.clear();
    invalidateDerived();
}

void CorvexSynth::initShapedTable() { initShapedTable(safeValues(params.snapshot())); }

void CorvexSynth::initShapedTable(const ParamValues& p) {
    const float s = p.oscShap;
    if (derivedCaching && shapedKey.valid && sameBits(shapedKey.oscShap, s)) return;
    shapedKey = {derivedCaching, s};
    const float q = static_cast<float>(static_cast<double>(s) * 19.0 + 1.0);
    for (int i = 0; i < kTableSize; ++i) {
        if (s == 0.0f) shapedTable[i] = sineTable[i];
        else
            shapedTable[i] = static_cast<float>(
                (mathfns::pow(static_cast<double>(unipolarTable[i]), static_cast<double>(q)) -
                 0.5) *
                2.0);
    }
    shapedTable[kTableSize] = shapedTable[0];
}

void CorvexSynth::computePartialBank(const ParamValues& p, BlockValues& b) {
    const float oscHarm = p.oscHarm, oscDamp = p.oscDamp;
    const float lfoFreq = p.lfoFreq, lfoHarm = p.lfoHarm;
    const BankKey key{true, currentNote, pitchBend, sampleRate, oscHarm, oscDamp, lfoFreq, lfoHarm};
    if (!derivedCaching || !(bankKey == key)) {
        BlockValues& out = derivedCaching ? bank : b;
        for (int i = kNumPartials; i < kLanes; ++i)
            out.oscStep[i] = out.lfoStep[i] = out.amplitude[i] = 0.0f;
        const float recipRate = static_cast<float>(1.0 / static_cast<double>(sampleRate));
        const float stepsPerHertz = static_cast<float>(static_cast<double>(recipRate) * 1024.0);

        // What neither the note nor the bend changes is kept apart, so that a score retuning
        // the voice every few frames pays one multiplication per partial, not two powers.
        const LfoBankKey lfoKey{true, sampleRate, oscDamp, lfoFreq, lfoHarm};
        if (!derivedCaching || !(lfoBankKey == lfoKey)) {
            out.damping = static_cast<float>(
                mathfns::pow(10.0, static_cast<double>(oscDamp) * static_cast<double>(-0.3f)));
            const float lfoRate = static_cast<float>(10.0 * static_cast<double>(lfoFreq));
            const float lfoExp = static_cast<float>(4.0 * static_cast<double>(lfoHarm) - 2.0);
            const float lfoBaseStep =
                static_cast<float>(static_cast<double>(lfoRate) * stepsPerHertz);
            for (int i = 0; i < kNumPartials; ++i) {
                const double h = i + 1;
                out.lfoStep[i] =
                    static_cast<float>(mathfns::pow(h, static_cast<double>(lfoExp)) * lfoBaseStep);
                out.amplitude[i] = i == 0 ? 1.0f : out.amplitude[i - 1] * out.damping;
            }
            lfoBankKey = lfoKey;
        }
        if (!derivedCaching || !harmonicKey.valid || !(harmonicKey.oscHarm == oscHarm)) {
            const float harmExp = static_cast<float>(2.0 * static_cast<double>(oscHarm));
            for (int i = 0; i < kNumPartials; ++i)
                harmonicRatio[i] = mathfns::pow(i + 1.0, static_cast<double>(harmExp));
            harmonicKey = {true, oscHarm};
        }

        const float f =
            static_cast<float>(static_cast<double>(noteFrequency[currentNote & 127]) * pitchBend);
        const float oscBaseStep = static_cast<float>(static_cast<double>(f) * stepsPerHertz);
        for (int i = 0; i < kNumPartials; ++i)
            out.oscStep[i] = static_cast<float>(harmonicRatio[i] * oscBaseStep);
        if (!derivedCaching) return;
        bankKey = key;
    }
    std::copy(std::begin(bank.oscStep), std::end(bank.oscStep), b.oscStep);
    std::copy(std::begin(bank.lfoStep), std::end(bank.lfoStep), b.lfoStep);
    std::copy(std::begin(bank.amplitude), std::end(bank.amplitude), b.amplitude);
    b.damping = bank.damping;
}

CorvexSynth::BlockValues CorvexSynth::blockValues() {
    return blockValues(safeValues(params.snapshot()));
}

CorvexSynth::BlockValues CorvexSynth::blockValues(const ParamValues& p) {
    // Every field is written below before it is read; zeroing the bank first would only cost the
    // audio thread.
    BlockValues b;  // NOLINT(cppcoreguidelines-pro-type-member-init)
    computePartialBank(p, b);
    b.recipSampleTime = static_cast<float>(1.0 / static_cast<double>(sampleRate));
    // Infinite for a time of 0 (or a subnormal one); the threshold test ends a stage of length
    // 0 before one is used, and elapsedShare gives 0 at a segment's first sample.
    b.invAttack = static_cast<float>(1.0 / static_cast<double>(p.attack));
    b.invDecay = static_cast<float>(1.0 / static_cast<double>(p.decay));
    b.invRelease = static_cast<float>(1.0 / static_cast<double>(p.release));
    b.outputGain =
        static_cast<float>((2.0 - 2.0 * std::fabs(static_cast<double>(p.lfoPh) - 0.5)) / 30.0);
    b.attack = p.attack;
    b.decay = p.decay;
    b.sustain = p.sustain;
    b.release = p.release;
    b.lfoRand = p.lfoRand;
    b.lfoAmnt = p.lfoAmnt;
    return b;
}

void CorvexSynth::invalidateDerived() {
    blockKey.valid = false;
    shapedKey.valid = false;
    lfoKey.valid = false;
    bankKey.valid = false;
    lfoBankKey.valid = false;
    harmonicKey.valid = false;
    offsetsKey.valid = false;
}

void CorvexSynth::updatePhaseOffsets(const ParamValues& p) {
    const float lfoPh = p.lfoPh;
    if (lfoPh == 1.0f) {
        // "Random": drawn once, at the first sounding block after the setting became Random.
        if (lastLfoPh != 1.0f) {
            for (int i = 0; i < kNumPartials; ++i)
                lfoPhaseOffset[i] = static_cast<float>(random.next() * 1024.0 / 32767.0);
            offsetsKey.valid = false;
        }
        return;
    }
    if (derivedCaching && offsetsKey.valid && sameBits(offsetsKey.lfoPh, lfoPh)) return;
    offsetsKey = {derivedCaching, lfoPh};
    const double phaseSpread = static_cast<double>(lfoPh) * 1024.0;
    for (int i = 0; i < kNumPartials; ++i)
        lfoPhaseOffset[i] = static_cast<float>(mathfns::fmod(i * phaseSpread, 1024.0));
}

void CorvexSynth::buildLfoTable(const ParamValues& p) {
    const auto sharpness = static_cast<int32_t>(49.0 * static_cast<double>(p.lfoShrp) + 1.0);
    const auto centre = static_cast<int32_t>(1024.0 * static_cast<double>(p.lfoCent));
    const float depthValue = p.lfoAmnt;
    if (derivedCaching && lfoKey.valid && lfoKey.centre == centre &&
        lfoKey.sharpness == sharpness && sameBits(lfoKey.depth, depthValue))
        return;
    lfoKey = {derivedCaching, centre, sharpness, depthValue};
    const double depth = depthValue;
    for (int32_t j = 0; j < kTableSize; ++j) {
        // Rising half of the raised cosine up to the centre, falling half after it; neither
        // divisor can be 0 inside its own branch.
        const int32_t idx =
            j < centre ? (j * 1024) / (2 * centre) : ((1024 - j) * 1024) / (2 * (1024 - centre));
        const float g = powint(unipolarTable[idx], sharpness);
        lfoTable[j] = static_cast<float>((static_cast<double>(g) * depth + 1.0) - depth);
    }
    lfoTable[kTableSize] = lfoTable[0];
}

uint8_t CorvexSynth::advanceEnvelope(const BlockValues& b) {
    uint8_t mode = kSoundingSample;
    const float t = static_cast<float>(static_cast<double>(envCounter) * b.recipSampleTime);
    switch (envStage) {
    case kAttackStage:
        // From the top: the kernel puts the LFOs back to their offsets and opens every gate.
        if (envCounter == 0) mode = kRestartSample;
        if (t >= b.attack) {
            envCounter = 0;
            envStage = kDecayStage;
            envLevel = 1.0f;
        } else {
            envLevel = static_cast<float>(elapsedShare(t, b.invAttack));
            ++envCounter;
        }
        break;
    case kDecayStage: {
        const float sustain = b.sustain;
        if (t >= b.decay) {
            envCounter = 0;
            envStage = kSustainStage;
            envLevel = sustain;
        } else {
            envLevel = static_cast<float>(1.0 - (1.0 - static_cast<double>(sustain)) *
                                                    elapsedShare(t, b.invDecay));
            ++envCounter;
        }
        break;
    }
    case kSustainStage: envLevel = b.sustain; break;
    case kReleaseStage:
        if (t >= b.release) {
            envLevel = 0.0f;
            envStage = kIdleStage;
        } else {
            envLevel = static_cast<float>((1.0 - elapsedShare(t, b.invRelease)) *
                                          static_cast<double>(releaseLevel));
            ++envCounter;
        }
        break;
    default: envLevel = 0.0f; break;
    }
    if (envStage != kReleaseStage) releaseLevel = envLevel;
    return envStage == kIdleStage ? uint8_t{kSilentSample} : mode;
}

// ---- Rendering -------------------------------------------------------------------------------

void CorvexSynth::render(float* out1, float* out2, int32_t sampleFrames) {
    if (!out1 || !out2 || sampleFrames <= 0) return;

    // One snapshot of the parameters for the whole block, however many events cut it.
    const ParamValues stored = params.snapshot();
    const float attack = safe(stored.attack);

    if (!usableSampleRate(sampleRate)) {
        for (int32_t s = 0; s < sampleFrames; ++s) out1[s] = out2[s] = 0.0f;
        // The voice cannot run at this rate, but what the block's events say still happens:
        // a note-off is not lost and a note not left pending while the rate is unusable.
        for (; !events.empty() && events.front().frame < sampleFrames; events.pop())
            apply(events.front(), attack);
        events.advance(sampleFrames);
        return;
    }

    // The block in spans between event frames: each event takes effect at its frame, so the
    // samples before it keep the note, bend and envelope stage they had. The samples are those
    // of one-frame blocks with every event at the start of its own.
    for (int32_t pos = 0; pos < sampleFrames;) {
        for (; !events.empty() && events.front().frame <= pos; events.pop())
            apply(events.front(), attack);
        const int32_t end =
            events.empty() ? sampleFrames : std::min(events.front().frame, sampleFrames);
        renderSpan(stored, out1 + pos, out2 + pos, end - pos);
        pos = end;
    }
    // Events announced beyond this block fall due in a later one.
    events.advance(sampleFrames);
}

void CorvexSynth::renderSpan(const ParamValues& stored, float* out1, float* out2, int32_t count) {
    if (envStage == kIdleStage) {
        // At rest nothing moves: no phase advances and nothing is derived.
        for (int32_t s = 0; s < count; ++s) out1[s] = out2[s] = 0.0f;
        return;
    }

    // The values derived from the snapshot, the note, the bend and the rate. With caching on, a
    // span whose inputs are those of the span before takes its values as they are: every
    // derivation below would find its own cache valid and change nothing. At one-frame blocks
    // this check is most of what a block costs besides its sample.
    const BlockKey key{derivedCaching, stored, sampleRate, currentNote, pitchBend};
    if (derivedCaching && !(blockKey == key) && blockKey.sameInputs(key)) {
        // Only the note or the bend moved: the partials' steps are all that follow them.
        computePartialBank(blockParams, block);
        blockKey = key;
    } else if (!derivedCaching || !(blockKey == key)) {
        const ParamValues p = safeValues(stored);
        blockParams = p;
        block = blockValues(p);
        updatePhaseOffsets(p);
        // Remembered so that random offsets are drawn once per change to "Random".
        lastLfoPh = p.lfoPh;
        buildLfoTable(p);
        initShapedTable(p);
        blockKey = key;
    }
    const BlockValues& b = block;

    // Samples, in chunks of the kernel's size. The envelope runs first for the whole chunk: it
    // reads nothing the partials change, and tells the kernel which samples are silent and where
    // an attack restarts the LFOs. Within a sample the partial sum is a chain of 30 dependent
    // float-rounded additions that may not be reordered; the kernel runs the chunk's sums side by
    // side, one independent chain per sample.
    const ChunkVoice voice{
        oscPhase,  lfoPhase,    partialGate, lfoPhaseOffset, b.oscStep,
        b.lfoStep, b.amplitude, shapedTable, lfoTable,       1.0 - static_cast<double>(b.lfoAmnt),
        b.lfoRand, &random};
    const int32_t chunk = kernel->chunk;
    for (int32_t base = 0; base < count; base += chunk) {
        const int32_t n = std::min<int32_t>(chunk, count - base);
        uint8_t modes[kMaxChunk];
        float level[kMaxChunk];
        float sum[kMaxChunk];
        for (int32_t k = 0; k < n; ++k) {
            modes[k] = advanceEnvelope(b);
            level[k] = envLevel;
        }
        kernel->render(voice, modes, n, sum);
        for (int32_t k = 0; k < n; ++k) {
            const float out = static_cast<float>(
                static_cast<double>(sum[k]) *
                (static_cast<double>(level[k]) * static_cast<double>(b.outputGain)));
            out1[base + k] = out;
            out2[base + k] = out;
        }
    }
}
