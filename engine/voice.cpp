// The sound engine: MIDI decoding, the monophonic voice, the oscillator and LFO banks, the
// envelope and the render loop.
//
// Rounding discipline: every expression is evaluated in double precision and rounded to a
// 32-bit float once, where its result is stored as a float. Changing where a value is rounded
// changes the output bits, so the casts below are deliberate.
//
// Runs on the host's audio thread: nothing here allocates, locks, logs or waits.
#include "corvex.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>

namespace {

constexpr double kSemitone = 1.0594631433486938; // the float nearest 2^(1/12), widened
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;

// The lowest rate at which every step stays small enough for the wrap loops; above the
// highest, the envelope's sample counters could overflow.
constexpr float kMinSampleRate = 1000.0f;
constexpr float kMaxSampleRate = 10000000.0f;

// Values are stored as the host sent them; the engine reads them through this, so an
// out-of-range or non-finite value can never drive a phase out of its table.
float safe(float v) {
    if (!(v >= 0.0f)) return 0.0f; // negatives and NaN
    if (v > 1.0f) return 1.0f;
    return v;
}

bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

bool usableSampleRate(float rate) { return rate >= kMinSampleRate && rate <= kMaxSampleRate; }

} // namespace

float Corvex::note2freq(int32_t note) {
    return static_cast<float>(27.5 * std::pow(kSemitone, static_cast<double>(note - 21)));
}

float Corvex::powint(float x, int32_t n) {
    float result = 1.0f;
    for (int64_t bit = 1; bit <= n; bit <<= 1) {
        if (n & bit) result = result * x;
        x = x * x;
    }
    return result;
}

// ---- MIDI ------------------------------------------------------------------------------------

int32_t Corvex::processEvents(VstEvents* events) {
    if (!events) return 1;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = events->events[i];
        if (!event || event->type != kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        const int status = static_cast<unsigned char>(midi->midiData[0]) & 0xF0;
        const int32_t data1 = midi->midiData[1] & 0x7F;
        const int32_t data2 = midi->midiData[2] & 0x7F;
        // An event cannot take effect before the block starts.
        const int32_t delta = midi->deltaFrames > 0 ? midi->deltaFrames : 0;

        switch (status) {
        case 0x90:
            if (data2 > 0) {
                noteOn(data1, data2, delta);
                break;
            }
            [[fallthrough]];
        case 0x80:
            if (data1 == currentNote) noteOff(delta);
            break;
        case 0xB0:
            if (data1 == 123 || data1 == 126) noteOff(delta);
            break;
        case 0xE0: {
            const int32_t v = (data2 * 128 + data1) - 8192;
            static const float lower = static_cast<float>(std::pow(kSemitone, -4.0));
            constexpr float upper = 1.2599213f;
            if (v < 0)
                pitchBend = static_cast<float>(1.0 + static_cast<double>(1.0f - lower) * v / 8192.0);
            else
                pitchBend = static_cast<float>(1.0 + static_cast<double>(upper - 1.0f) * v / 8192.0);
            break;
        }
        default: break;
        }
    }
    return 1;
}

void Corvex::startAttack() {
    envStage = kAttackStage;
    // Place the attack ramp where it already passes through the current level, so a new note
    // continues from the previous one instead of restarting from silence.
    const float levelTime = static_cast<float>(static_cast<double>(envLevel) * safe(params.attack));
    const double counter = static_cast<double>(getSampleRate()) * static_cast<double>(levelTime);
    envCounter = (counter >= 0.0 && counter < 2147483647.0) ? static_cast<int32_t>(counter) : 0;
}

void Corvex::startRelease() {
    envStage = kReleaseStage;
    envCounter = 0;
}

void Corvex::takePendingEvent() {
    pendingEvent = kNoEvent;
    pendingDelta = -1;
}

void Corvex::noteOn(int32_t note, int32_t /*velocity*/, int32_t delta) {
    currentNote = note;
    pendingDelta = delta;
    pendingEvent = kNoteOnEvent;
    if (delta == 0) {
        startAttack();
        takePendingEvent();
    }
}

void Corvex::noteOff(int32_t delta) {
    pendingDelta = delta;
    pendingEvent = kNoteOffEvent;
    if (delta == 0) {
        startRelease();
        takePendingEvent();
    }
}

// ---- Tables ----------------------------------------------------------------------------------

void Corvex::open() {
    for (int i = 0; i < kTableSize; ++i) {
        const float x = static_cast<float>(i / 1024.0);
        sineTable[i] = static_cast<float>(
            std::sin(static_cast<double>(x) * kTwoPi - static_cast<double>(kHalfPi)));
        unipolarTable[i] = static_cast<float>(static_cast<double>(sineTable[i]) * 0.5 + 0.5);
    }
    sineTable[kTableSize] = sineTable[0];
    unipolarTable[kTableSize] = unipolarTable[0];
    for (int i = 0; i < kNumPartials; ++i) {
        oscPhase[i] = 0.0f;
        lfoPhase[i] = 0.0f;
        partialGate[i] = 1.0f;
    }
    pendingEvent = kNoEvent;
    invalidateDerived();
}

void Corvex::initShapedTable() {
    const float s = safe(params.oscShap);
    if (derivedCaching && shapedKey.valid && sameBits(shapedKey.oscShap, s)) return;
    shapedKey = {derivedCaching, s};
    const float q = static_cast<float>(static_cast<double>(s) * 19.0 + 1.0);
    for (int i = 0; i < kTableSize; ++i) {
        if (s == 0.0f)
            shapedTable[i] = sineTable[i];
        else
            shapedTable[i] = static_cast<float>(
                (std::pow(static_cast<double>(unipolarTable[i]), static_cast<double>(q)) - 0.5) *
                2.0);
    }
    shapedTable[kTableSize] = shapedTable[0];
}

void Corvex::computePartialBank(BlockValues& b) {
    const float oscHarm = safe(params.oscHarm), oscDamp = safe(params.oscDamp);
    const float lfoFreq = safe(params.lfoFreq), lfoHarm = safe(params.lfoHarm);
    const float sampleRate = getSampleRate();
    const BankKey key{true, currentNote, pitchBend, sampleRate, oscHarm, oscDamp, lfoFreq, lfoHarm};
    if (derivedCaching && bankKey == key) {
        std::copy(std::begin(bank.oscStep), std::end(bank.oscStep), b.oscStep);
        std::copy(std::begin(bank.lfoStep), std::end(bank.lfoStep), b.lfoStep);
        std::copy(std::begin(bank.amplitude), std::end(bank.amplitude), b.amplitude);
        b.damping = bank.damping;
        return;
    }

    const float f = static_cast<float>(static_cast<double>(note2freq(currentNote)) * pitchBend);
    const float recipRate = static_cast<float>(1.0 / static_cast<double>(sampleRate));
    const float stepsPerHertz = static_cast<float>(static_cast<double>(recipRate) * 1024.0);
    const float oscBaseStep = static_cast<float>(static_cast<double>(f) * stepsPerHertz);
    const float harmExp = static_cast<float>(2.0 * static_cast<double>(oscHarm));
    b.damping = static_cast<float>(
        std::pow(10.0, static_cast<double>(oscDamp) * static_cast<double>(-0.3f)));
    const float lfoRate = static_cast<float>(10.0 * static_cast<double>(lfoFreq));
    const float lfoExp = static_cast<float>(4.0 * static_cast<double>(lfoHarm) - 2.0);
    const float lfoBaseStep = static_cast<float>(static_cast<double>(lfoRate) * stepsPerHertz);
    for (int i = 0; i < kNumPartials; ++i) {
        const double h = i + 1;
        b.oscStep[i] = static_cast<float>(std::pow(h, static_cast<double>(harmExp)) * oscBaseStep);
        b.lfoStep[i] = static_cast<float>(std::pow(h, static_cast<double>(lfoExp)) * lfoBaseStep);
        b.amplitude[i] = i == 0 ? 1.0f : b.amplitude[i - 1] * b.damping;
    }
    if (derivedCaching) {
        bank = b;
        bankKey = key;
    }
}

Corvex::BlockValues Corvex::blockValues() {
    BlockValues b;
    computePartialBank(b);
    const float lfoPh = safe(params.lfoPh);
    b.recipSampleTime = static_cast<float>(1.0 / static_cast<double>(getSampleRate()));
    // Infinite for a time of 0; the threshold test ends such a stage before one is used.
    b.invAttack = static_cast<float>(1.0 / static_cast<double>(safe(params.attack)));
    b.invDecay = static_cast<float>(1.0 / static_cast<double>(safe(params.decay)));
    b.invRelease = static_cast<float>(1.0 / static_cast<double>(safe(params.release)));
    b.outputGain =
        static_cast<float>((2.0 - 2.0 * std::fabs(static_cast<double>(lfoPh) - 0.5)) / 30.0);
    return b;
}

void Corvex::invalidateDerived() {
    shapedKey.valid = false;
    lfoKey.valid = false;
    bankKey.valid = false;
    offsetsKey.valid = false;
}

void Corvex::updatePhaseOffsets() {
    const float lfoPh = safe(params.lfoPh);
    if (lfoPh == 1.0f) {
        // "Random": drawn once, at the first sounding block after the setting became Random.
        if (lastLfoPh != 1.0f) {
            for (float& offset : lfoPhaseOffset)
                offset = static_cast<float>(random.next() * 1024.0 / 32767.0);
            offsetsKey.valid = false;
        }
        return;
    }
    if (derivedCaching && offsetsKey.valid && sameBits(offsetsKey.lfoPh, lfoPh)) return;
    offsetsKey = {derivedCaching, lfoPh};
    const double phaseSpread = static_cast<double>(lfoPh) * 1024.0;
    for (int i = 0; i < kNumPartials; ++i)
        lfoPhaseOffset[i] = static_cast<float>(std::fmod(i * phaseSpread, 1024.0));
}

void Corvex::buildLfoTable() {
    const auto sharpness = static_cast<int32_t>(49.0 * static_cast<double>(safe(params.lfoShrp)) + 1.0);
    const auto centre = static_cast<int32_t>(1024.0 * static_cast<double>(safe(params.lfoCent)));
    const float depthValue = safe(params.lfoAmnt);
    if (derivedCaching && lfoKey.valid && lfoKey.centre == centre &&
        lfoKey.sharpness == sharpness && sameBits(lfoKey.depth, depthValue))
        return;
    lfoKey = {derivedCaching, centre, sharpness, depthValue};
    const double depth = depthValue;
    for (int32_t j = 0; j < kTableSize; ++j) {
        // Rising half of the raised cosine up to the centre, falling half after it; neither
        // divisor can be 0 inside its own branch.
        const int32_t idx = j < centre ? (j * 1024) / (2 * centre)
                                       : ((1024 - j) * 1024) / (2 * (1024 - centre));
        const float g = powint(unipolarTable[idx], sharpness);
        lfoTable[j] = static_cast<float>((static_cast<double>(g) * depth + 1.0) - depth);
    }
    lfoTable[kTableSize] = lfoTable[0];
}

// ---- Rendering -------------------------------------------------------------------------------

void Corvex::process(float** inputs, float** outputs, int32_t sampleFrames) {
    processReplacing(inputs, outputs, sampleFrames);
}

void Corvex::processReplacing(float** /*inputs*/, float** outputs, int32_t sampleFrames) {
    if (!outputs || sampleFrames <= 0) return;
    float* out1 = outputs[0];
    float* out2 = outputs[1];
    if (!out1 || !out2) return;

    const float sampleRate = getSampleRate();
    if (!usableSampleRate(sampleRate)) {
        for (int32_t s = 0; s < sampleFrames; ++s) out1[s] = out2[s] = 0.0f;
        return;
    }

    // 1. Idle start. A note-on carried to offset 0 of this block is taken too: it fell due
    // exactly at the block boundary and would otherwise wait forever.
    if (envStage == kIdleStage) {
        if (pendingEvent == kNoteOnEvent && pendingDelta >= 0 && pendingDelta < sampleFrames) {
            for (int32_t s = 0; s < pendingDelta; ++s) out1[s] = out2[s] = 0.0f;
            out1 += pendingDelta;
            out2 += pendingDelta;
            sampleFrames -= pendingDelta;
            takePendingEvent();
            envStage = kAttackStage;
            envCounter = 0;
        } else {
            for (int32_t s = 0; s < sampleFrames; ++s) out1[s] = out2[s] = 0.0f;
            return;
        }
    }

    // 2. Per-block values and the partial bank (the envelope thresholds are read where used).
    const BlockValues b = blockValues();
    updatePhaseOffsets();

    // 3. Remember the phase setting, so random offsets are drawn once per change to "Random".
    lastLfoPh = safe(params.lfoPh);

    // 4. The LFO gain table. 5. The wave.
    buildLfoTable();
    initShapedTable();

    // 6. Samples.
    for (int32_t s = 0; s < sampleFrames; ++s) {
        float sum = 0.0f;

        if (pendingEvent == kNoteOnEvent && pendingDelta == s) {
            startAttack();
            takePendingEvent();
        } else if (pendingEvent == kNoteOffEvent && pendingDelta == s) {
            startRelease();
            takePendingEvent();
        }

        const float t = static_cast<float>(static_cast<double>(envCounter) * b.recipSampleTime);
        switch (envStage) {
        case kAttackStage:
            if (envCounter == 0) {
                for (int i = 0; i < kNumPartials; ++i) {
                    lfoPhase[i] = lfoPhaseOffset[i];
                    partialGate[i] = 1.0f;
                }
            }
            if (t >= safe(params.attack)) {
                envCounter = 0;
                envStage = kDecayStage;
                envLevel = 1.0f;
            } else {
                envLevel = static_cast<float>(static_cast<double>(t) * b.invAttack);
                ++envCounter;
            }
            break;
        case kDecayStage: {
            const float sustain = safe(params.sustain);
            if (t >= safe(params.decay)) {
                envCounter = 0;
                envStage = kSustainStage;
                envLevel = sustain;
            } else {
                envLevel = static_cast<float>(
                    1.0 - (1.0 - static_cast<double>(sustain)) *
                              (static_cast<double>(t) * static_cast<double>(b.invDecay)));
                ++envCounter;
            }
            break;
        }
        case kSustainStage: envLevel = safe(params.sustain); break;
        case kReleaseStage:
            if (t >= safe(params.release)) {
                envLevel = 0.0f;
                envStage = kIdleStage;
            } else {
                envLevel = static_cast<float>(
                    (1.0 - static_cast<double>(t) * static_cast<double>(b.invRelease)) *
                    static_cast<double>(releaseLevel));
                ++envCounter;
            }
            break;
        default: envLevel = 0.0f; break;
        }
        if (envStage != kReleaseStage) releaseLevel = envLevel;

        if (envStage != kIdleStage) {
            const float lfoRand = safe(params.lfoRand);
            const double floorGain = 1.0 - static_cast<double>(safe(params.lfoAmnt));
            for (int i = 0; i < kNumPartials; ++i) {
                oscPhase[i] += b.oscStep[i];
                while (oscPhase[i] > 1024.0f) oscPhase[i] -= 1024.0f;
                const float w = shapedTable[static_cast<int32_t>(oscPhase[i])];

                lfoPhase[i] += b.lfoStep[i];
                while (lfoPhase[i] > 1024.0f) {
                    lfoPhase[i] -= 1024.0f;
                    if (lfoRand > 0.0f) {
                        const float r = static_cast<float>(random.next() / 32767.0);
                        partialGate[i] = lfoRand > r ? 0.0f : 1.0f;
                    } else {
                        partialGate[i] = 1.0f;
                    }
                }
                const double m = partialGate[i] == 1.0f
                                     ? static_cast<double>(lfoTable[static_cast<int32_t>(lfoPhase[i])])
                                     : floorGain;
                sum = static_cast<float>(static_cast<double>(sum) +
                                         static_cast<double>(w) * m *
                                             static_cast<double>(b.amplitude[i]));
            }
        }

        const float out = static_cast<float>(
            static_cast<double>(sum) *
            (static_cast<double>(envLevel) * static_cast<double>(b.outputGain)));
        out1[s] = out;
        out2[s] = out;
    }

    // 7. An event announced beyond this block falls due in the next one.
    if (pendingDelta >= sampleFrames) pendingDelta -= sampleFrames;
}
