// SPDX-License-Identifier: GPL-3.0-or-later
// The SSE2 kernel: four partials side by side for the phases, two for the products, and eight
// samples' sums in four registers. The reference the other kernels are measured against.
// Compiled with the baseline flags (SSE2 is part of every x86-64 CPU; 32-bit builds pass -msse2).
#include "core/kernel.h"
#include "core/synth.h"

#include <emmintrin.h>

#if !defined(__SSE2__)
#error "the SSE2 kernel needs SSE2: 32-bit builds pass -msse2 -mfpmath=sse"
#endif

namespace {

constexpr int32_t kChunk = 8;

// One sample of every partial: advance and wrap both phases, read the wave and the LFO gain,
// and store each partial's product (w x m) x amplitude in product[0..kLanes). Only the random
// gate draws, which must happen in partial order, take a scalar path, and only when some LFO
// completes a cycle.
void renderPartials(const ChunkVoice& v, double* product) {
    // The arrays as locals: read through the voice, every store to a phase would make the
    // compiler fetch the pointers again.
    float* const oscPhase = v.oscPhase;
    float* const lfoPhase = v.lfoPhase;
    const float* const oscStep = v.oscStep;
    const float* const lfoStep = v.lfoStep;
    alignas(16) int32_t oscIndex[kLanes];
    alignas(16) int32_t lfoIndex[kLanes];
    const __m128 cycle = _mm_set1_ps(1024.0f);
    int wrapsAgain = 0, cycleEnds = 0;
    for (int i = 0; i < kLanes; i += 4) {
        // Subtracting 0 leaves a positive phase unchanged, so one wrap needs no branch.
        __m128 p = _mm_add_ps(_mm_load_ps(oscPhase + i), _mm_load_ps(oscStep + i));
        p = _mm_sub_ps(p, _mm_and_ps(_mm_cmpgt_ps(p, cycle), cycle));
        wrapsAgain |= _mm_movemask_ps(_mm_cmpgt_ps(p, cycle));
        _mm_store_ps(oscPhase + i, p);
        const __m128 q = _mm_add_ps(_mm_load_ps(lfoPhase + i), _mm_load_ps(lfoStep + i));
        cycleEnds |= _mm_movemask_ps(_mm_cmpgt_ps(q, cycle));
        _mm_store_ps(lfoPhase + i, q);
    }
    if (wrapsAgain) kernelsupport::wrapOscPhases(oscPhase);
    if (cycleEnds) kernelsupport::endLfoCycles(v);
    for (int i = 0; i < kLanes; i += 4) {
        _mm_store_si128(reinterpret_cast<__m128i*>(oscIndex + i),
                        _mm_cvttps_epi32(_mm_load_ps(oscPhase + i)));
        _mm_store_si128(reinterpret_cast<__m128i*>(lfoIndex + i),
                        _mm_cvttps_epi32(_mm_load_ps(lfoPhase + i)));
    }

    const __m128d floorGain = _mm_set1_pd(v.floorGain);
    const __m128d open = _mm_set1_pd(1.0);
    for (int i = 0; i < kLanes; i += 2) {
        const __m128d w = _mm_set_pd(v.shapedTable[oscIndex[i + 1]], v.shapedTable[oscIndex[i]]);
        const __m128d g = _mm_set_pd(v.lfoTable[lfoIndex[i + 1]], v.lfoTable[lfoIndex[i]]);
        const __m128d isOpen =
            _mm_cmpeq_pd(_mm_cvtps_pd(_mm_castsi128_ps(
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v.partialGate + i)))),
                         open);
        const __m128d m = _mm_or_pd(_mm_and_pd(isOpen, g), _mm_andnot_pd(isOpen, floorGain));
        const __m128d amplitude = _mm_cvtps_pd(
            _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v.amplitude + i))));
        _mm_store_pd(product + i, _mm_mul_pd(_mm_mul_pd(w, m), amplitude));
    }
}

// A block of one frame: the one chain, without seven empty ones beside it.
void renderOne(const ChunkVoice& v, uint8_t mode, float* sum) {
    if (mode == kSilentSample) {
        *sum = 0.0f;
        return;
    }
    if (mode == kRestartSample) kernelsupport::restartLfos(v);
    alignas(16) double product[kLanes];
    renderPartials(v, product);
    double acc = 0.0;
    for (int i = 0; i < kNumPartials; ++i) acc = static_cast<float>(acc + product[i]);
    *sum = static_cast<float>(acc);
}

void render(const ChunkVoice& v, const uint8_t* modes, int32_t count, float* sums) {
    if (count == 1) return renderOne(v, modes[0], sums);
    alignas(16) double product[kChunk][kLanes];
    for (int32_t k = 0; k < kChunk; ++k) {
        if (k >= count || modes[k] == kSilentSample) {
            for (double& p : product[k]) p = 0.0;
            continue;
        }
        if (modes[k] == kRestartSample) kernelsupport::restartLfos(v);
        renderPartials(v, product[k]);
    }

    // The sums of two samples per register and four registers side by side, each lane its own
    // chain in partial order; the round trip through float is the rounding after every addition.
    __m128d acc[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
    for (int i = 0; i < kNumPartials; ++i)
        for (int pair = 0; pair < 4; ++pair)
            acc[pair] = _mm_cvtps_pd(_mm_cvtpd_ps(
                _mm_add_pd(acc[pair], _mm_set_pd(product[2 * pair + 1][i], product[2 * pair][i]))));
    alignas(16) float sum[kChunk];
    for (int pair = 0; pair < 4; ++pair)
        _mm_storel_pi(reinterpret_cast<__m64*>(sum + 2 * pair), _mm_cvtpd_ps(acc[pair]));
    for (int32_t k = 0; k < count; ++k) sums[k] = sum[k];
}

}  // namespace

extern const Kernel kSse2Kernel;
const Kernel kSse2Kernel{"sse2", kChunk, &render};
