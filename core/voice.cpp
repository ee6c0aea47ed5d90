// The sound engine: MIDI decoding, the monophonic voice, the oscillator and LFO banks, the
// envelope and the render loop.
//
// Rounding discipline: every expression is evaluated in double precision and rounded to a
// 32-bit float once, where its result is stored as a float. Changing where a value is rounded
// changes the output bits, so the casts below are deliberate.
//
// Runs on the host's audio thread: nothing here allocates, locks, logs or waits.
#include "core/mathfns.h"
#include "core/synth.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <emmintrin.h>

#if !defined(__SSE2__)
#error "the render loop needs SSE2: every x86-64 CPU has it; 32-bit builds pass -msse2 -mfpmath=sse"
#endif
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

// Samples whose sums run side by side.
constexpr int32_t kChunk = 8;

// Brings a phase back into (0, 1024] as repeated subtraction of 1024 would. Every such
// subtraction is exact for phases below 2^34, so subtracting all the cycles at once gives the
// same bits; the common case of no wrap or one wrap stays a compare and a subtraction.
inline float wrapPhase(float phase) {
    if (phase <= 1024.0f) return phase;
    phase -= 1024.0f;
    if (phase <= 1024.0f) return phase;
    const double cycles = std::ceil(static_cast<double>(phase) / 1024.0) - 1.0;
    return static_cast<float>(static_cast<double>(phase) - cycles * 1024.0);
}

bool usableSampleRate(float rate) { return rate >= kMinSampleRate && rate <= kMaxSampleRate; }

// One read of the current values, each made safe: everything a block derives and every
// threshold it compares with comes from this, so a value another thread changes meanwhile
// cannot pair a new threshold with an old reciprocal.
ParamValues safeValues(const ParamValues& stored) {
    ParamValues p;
    for (int32_t index = 0; index < kNumParams; ++index)
        *p.field(index) = safe(*stored.field(index));
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

void CorvexSynth::midi(uint8_t statusByte, uint8_t byte1, uint8_t byte2, int32_t frame) {
    const int status = statusByte & 0xF0;
    const int32_t data1 = byte1 & 0x7F;
    const int32_t data2 = byte2 & 0x7F;
    // An event cannot take effect before the block starts.
    const int32_t delta = frame > 0 ? frame : 0;

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
        // The semitone ratio to the powers -4 and 4, rounded to floats.
        constexpr float lower = 0.793700397f;
        constexpr float upper = 1.2599213f;
        if (v < 0)
            pitchBend = static_cast<float>(1.0 + static_cast<double>(1.0f - lower) * v / 8192.0);
        else pitchBend = static_cast<float>(1.0 + static_cast<double>(upper - 1.0f) * v / 8192.0);
        break;
    }
    default: break;
    }
}

void CorvexSynth::startAttack(float attack) {
    envStage = kAttackStage;
    // Place the attack ramp where it already passes through the current level, so a new note
    // continues from the previous one instead of restarting from silence.
    const float levelTime = static_cast<float>(static_cast<double>(envLevel) * safe(attack));
    const double counter = static_cast<double>(sampleRate) * static_cast<double>(levelTime);
    envCounter = (counter >= 0.0 && counter < 2147483647.0) ? static_cast<int32_t>(counter) : 0;
}

void CorvexSynth::startRelease() {
    envStage = kReleaseStage;
    envCounter = 0;
}

void CorvexSynth::takePendingEvent() {
    pendingEvent = kNoEvent;
    pendingDelta = -1;
}

void CorvexSynth::noteOn(int32_t note, int32_t /*velocity*/, int32_t delta) {
    currentNote = note;
    pendingDelta = delta;
    pendingEvent = kNoteOnEvent;
    if (delta == 0) {
        startAttack(params.load(kAttack));
        takePendingEvent();
    }
}

void CorvexSynth::noteOff(int32_t delta) {
    pendingDelta = delta;
    pendingEvent = kNoteOffEvent;
    if (delta == 0) {
        startRelease();
        takePendingEvent();
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
    pendingEvent = kNoEvent;
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
    if (derivedCaching && bankKey == key) {
        std::copy(std::begin(bank.oscStep), std::end(bank.oscStep), b.oscStep);
        std::copy(std::begin(bank.lfoStep), std::end(bank.lfoStep), b.lfoStep);
        std::copy(std::begin(bank.amplitude), std::end(bank.amplitude), b.amplitude);
        b.damping = bank.damping;
        return;
    }
    for (int i = kNumPartials; i < kLanes; ++i) b.oscStep[i] = b.lfoStep[i] = b.amplitude[i] = 0.0f;

    const float f = static_cast<float>(static_cast<double>(note2freq(currentNote)) * pitchBend);
    const float recipRate = static_cast<float>(1.0 / static_cast<double>(sampleRate));
    const float stepsPerHertz = static_cast<float>(static_cast<double>(recipRate) * 1024.0);
    const float oscBaseStep = static_cast<float>(static_cast<double>(f) * stepsPerHertz);
    const float harmExp = static_cast<float>(2.0 * static_cast<double>(oscHarm));
    b.damping = static_cast<float>(
        mathfns::pow(10.0, static_cast<double>(oscDamp) * static_cast<double>(-0.3f)));
    const float lfoRate = static_cast<float>(10.0 * static_cast<double>(lfoFreq));
    const float lfoExp = static_cast<float>(4.0 * static_cast<double>(lfoHarm) - 2.0);
    const float lfoBaseStep = static_cast<float>(static_cast<double>(lfoRate) * stepsPerHertz);
    for (int i = 0; i < kNumPartials; ++i) {
        const double h = i + 1;
        b.oscStep[i] =
            static_cast<float>(mathfns::pow(h, static_cast<double>(harmExp)) * oscBaseStep);
        b.lfoStep[i] =
            static_cast<float>(mathfns::pow(h, static_cast<double>(lfoExp)) * lfoBaseStep);
        b.amplitude[i] = i == 0 ? 1.0f : b.amplitude[i - 1] * b.damping;
    }
    if (derivedCaching) {
        bank = b;
        bankKey = key;
    }
}

CorvexSynth::BlockValues CorvexSynth::blockValues() {
    return blockValues(safeValues(params.snapshot()));
}

CorvexSynth::BlockValues CorvexSynth::blockValues(const ParamValues& p) {
    BlockValues b;
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
    shapedKey.valid = false;
    lfoKey.valid = false;
    bankKey.valid = false;
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

void CorvexSynth::advanceEnvelope(int32_t s, const BlockValues& b) {
    if (pendingEvent == kNoteOnEvent && pendingDelta == s) {
        startAttack(b.attack);
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
}

void CorvexSynth::drawGate(int partial, float lfoRand) {
    if (lfoRand > 0.0f) {
        const float r = static_cast<float>(random.next() / 32767.0);
        partialGate[partial] = lfoRand > r ? 0.0f : 1.0f;
    } else {
        partialGate[partial] = 1.0f;
    }
}

// One sample of every partial: advance and wrap both phases, read the wave and the LFO gain,
// and store each partial's product (w x m) x amplitude in product[0..kLanes). Four partials
// go side by side; only the random gate draws, which must happen in partial order, take a
// scalar path, and only when some LFO completes a cycle.
void CorvexSynth::renderPartials(double* product, const BlockValues& b) {
    alignas(16) int32_t oscIndex[kLanes];
    alignas(16) int32_t lfoIndex[kLanes];
    const __m128 cycle = _mm_set1_ps(1024.0f);
    int wrapsAgain = 0, cycleEnds = 0;
    for (int i = 0; i < kLanes; i += 4) {
        // Subtracting 0 leaves a positive phase unchanged, so one wrap needs no branch.
        __m128 p = _mm_add_ps(_mm_load_ps(oscPhase + i), _mm_load_ps(b.oscStep + i));
        p = _mm_sub_ps(p, _mm_and_ps(_mm_cmpgt_ps(p, cycle), cycle));
        wrapsAgain |= _mm_movemask_ps(_mm_cmpgt_ps(p, cycle));
        _mm_store_ps(oscPhase + i, p);
        const __m128 q = _mm_add_ps(_mm_load_ps(lfoPhase + i), _mm_load_ps(b.lfoStep + i));
        cycleEnds |= _mm_movemask_ps(_mm_cmpgt_ps(q, cycle));
        _mm_store_ps(lfoPhase + i, q);
    }
    if (wrapsAgain)
        for (float& p : oscPhase) p = wrapPhase(p);
    if (cycleEnds) {
        const float lfoRand = b.lfoRand;
        for (int i = 0; i < kNumPartials; ++i) {
            while (lfoPhase[i] > 1024.0f) {
                lfoPhase[i] -= 1024.0f;
                drawGate(i, lfoRand);
            }
        }
    }
    for (int i = 0; i < kLanes; i += 4) {
        _mm_store_si128(reinterpret_cast<__m128i*>(oscIndex + i),
                        _mm_cvttps_epi32(_mm_load_ps(oscPhase + i)));
        _mm_store_si128(reinterpret_cast<__m128i*>(lfoIndex + i),
                        _mm_cvttps_epi32(_mm_load_ps(lfoPhase + i)));
    }

    const __m128d floorGain = _mm_set1_pd(1.0 - static_cast<double>(b.lfoAmnt));
    const __m128d open = _mm_set1_pd(1.0);
    for (int i = 0; i < kLanes; i += 2) {
        const __m128d w = _mm_set_pd(shapedTable[oscIndex[i + 1]], shapedTable[oscIndex[i]]);
        const __m128d g = _mm_set_pd(lfoTable[lfoIndex[i + 1]], lfoTable[lfoIndex[i]]);
        const __m128d isOpen =
            _mm_cmpeq_pd(_mm_cvtps_pd(_mm_castsi128_ps(
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(partialGate + i)))),
                         open);
        const __m128d m = _mm_or_pd(_mm_and_pd(isOpen, g), _mm_andnot_pd(isOpen, floorGain));
        const __m128d amplitude = _mm_cvtps_pd(
            _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b.amplitude + i))));
        _mm_store_pd(product + i, _mm_mul_pd(_mm_mul_pd(w, m), amplitude));
    }
}

// ---- Rendering -------------------------------------------------------------------------------

void CorvexSynth::render(float* out1, float* out2, int32_t sampleFrames) {
    if (!out1 || !out2 || sampleFrames <= 0) return;

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
            // An event announced beyond this block falls due in a later one, as it does after
            // a sounding block; left alone it would never come due.
            if (pendingEvent != kNoEvent && pendingDelta >= sampleFrames)
                pendingDelta -= sampleFrames;
            return;
        }
    }

    // 2. One snapshot of the parameters for the whole block, then the per-block values, the
    // envelope thresholds and the partial bank from it.
    const ParamValues p = safeValues(params.snapshot());
    const BlockValues b = blockValues(p);
    updatePhaseOffsets(p);

    // 3. Remember the phase setting, so random offsets are drawn once per change to "Random".
    lastLfoPh = p.lfoPh;

    // 4. The LFO gain table. 5. The wave.
    buildLfoTable(p);
    initShapedTable(p);

    // 6. Samples, in chunks. Within a sample the partial sum is a chain of 30 dependent
    // float-rounded additions that may not be reordered; it is latency-bound. So each chunk
    // first computes every partial's product sample by sample (phases, wraps and random gate
    // draws in exactly their sequential order), then runs the chunk's sums side by side, one
    // independent chain per sample, each still adding partial after partial.
    for (int32_t base = 0; base < sampleFrames; base += kChunk) {
        const int32_t count = std::min<int32_t>(kChunk, sampleFrames - base);
        alignas(16) double product[kChunk][kLanes];
        float level[kChunk];
        for (int32_t k = 0; k < count; ++k) {
            advanceEnvelope(base + k, b);
            level[k] = envLevel;
            if (envStage == kIdleStage) {
                std::fill(std::begin(product[k]), std::end(product[k]), 0.0);
                continue;
            }
            renderPartials(product[k], b);
        }
        for (int32_t k = count; k < kChunk; ++k)
            std::fill(std::begin(product[k]), std::end(product[k]), 0.0);

        // The sums of two samples per register and four registers side by side, each lane its
        // own chain in partial order; the round trip through float is the rounding after every
        // addition.
        static_assert(kChunk == 8);
        __m128d acc[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
        for (int i = 0; i < kNumPartials; ++i)
            for (int pair = 0; pair < 4; ++pair)
                acc[pair] = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_add_pd(
                    acc[pair], _mm_set_pd(product[2 * pair + 1][i], product[2 * pair][i]))));
        alignas(16) float sum[kChunk];
        for (int pair = 0; pair < 4; ++pair)
            _mm_storel_pi(reinterpret_cast<__m64*>(sum + 2 * pair), _mm_cvtpd_ps(acc[pair]));

        for (int32_t k = 0; k < count; ++k) {
            const float out = static_cast<float>(
                static_cast<double>(sum[k]) *
                (static_cast<double>(level[k]) * static_cast<double>(b.outputGain)));
            out1[base + k] = out;
            out2[base + k] = out;
        }
    }

    // 7. An event announced beyond this block falls due in the next one.
    if (pendingDelta >= sampleFrames) pendingDelta -= sampleFrames;
}
