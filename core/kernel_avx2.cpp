// SPDX-License-Identifier: GPL-3.0-or-later
// The AVX2 kernel: eight partials side by side for the phases and table reads, four for the
// products, and 32 samples' sums in eight registers of four.
//
// Within a sample the partial sum is a chain of dependent additions, each followed by a round
// trip through float; it may not be reordered, so the only parallelism is across samples. The
// chunk therefore first works out every partial's product sample by sample (phases, wraps and
// gate draws in their sequential order), then turns the products around in 4 x 4 blocks so that
// one register holds one partial of four samples, and runs eight such chains side by side.
//
// Compiled with -mavx2 and nothing else: no fused multiply-add is allowed. Only intrinsics and
// code of this file's own: an inline function shared with files compiled for the baseline could
// be kept by the linker in its AVX2 form and run on a CPU without it.
#include "core/kernel.h"
#include "core/synth.h"

#include <immintrin.h>

namespace {

constexpr int32_t kChunk = 32;
constexpr int kGroup = 4;  // samples per register of doubles

// One sample of every partial, into row[0..kLanes). The arrays come in as locals: read through
// the voice, every store to a phase would make the compiler fetch the pointers again.
inline void renderPartials(const ChunkVoice& v, const __m256d* amplitude, double* row) {
    float* const oscPhase = v.oscPhase;
    float* const lfoPhase = v.lfoPhase;
    const float* const oscStep = v.oscStep;
    const float* const lfoStep = v.lfoStep;
    const __m256 cycle = _mm256_set1_ps(1024.0f);
    __m256 osc[4], lfo[4];
    int wrapsAgain = 0, cycleEnds = 0;
    for (int h = 0; h < 4; ++h) {
        // Subtracting 0 leaves a positive phase unchanged, so one wrap needs no branch.
        __m256 p = _mm256_add_ps(_mm256_load_ps(oscPhase + 8 * h), _mm256_load_ps(oscStep + 8 * h));
        p = _mm256_sub_ps(p, _mm256_and_ps(_mm256_cmp_ps(p, cycle, _CMP_GT_OQ), cycle));
        wrapsAgain |= _mm256_movemask_ps(_mm256_cmp_ps(p, cycle, _CMP_GT_OQ));
        _mm256_store_ps(oscPhase + 8 * h, p);
        osc[h] = p;
        const __m256 q =
            _mm256_add_ps(_mm256_load_ps(lfoPhase + 8 * h), _mm256_load_ps(lfoStep + 8 * h));
        cycleEnds |= _mm256_movemask_ps(_mm256_cmp_ps(q, cycle, _CMP_GT_OQ));
        _mm256_store_ps(lfoPhase + 8 * h, q);
        lfo[h] = q;
    }
    if (wrapsAgain) {
        kernelsupport::wrapOscPhases(oscPhase);
        for (int h = 0; h < 4; ++h) osc[h] = _mm256_load_ps(oscPhase + 8 * h);
    }
    if (cycleEnds) {
        kernelsupport::endLfoCycles(v);
        for (int h = 0; h < 4; ++h) lfo[h] = _mm256_load_ps(lfoPhase + 8 * h);
    }

    // The table reads are most of a sample's loads: the two padding lanes are left out.
    const __m256 all = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    const __m256 used[4] = {all, all, all,
                            _mm256_castsi256_ps(_mm256_set_epi32(0, 0, -1, -1, -1, -1, -1, -1))};
    static_assert(kNumPartials == 30 && kLanes == 32);
    const __m256d floorGain = _mm256_set1_pd(v.floorGain);
    const __m256d open = _mm256_set1_pd(1.0);
    for (int h = 0; h < 4; ++h) {
        const __m256 w = _mm256_mask_i32gather_ps(_mm256_setzero_ps(), v.shapedTable,
                                                  _mm256_cvttps_epi32(osc[h]), used[h], 4);
        const __m256 g = _mm256_mask_i32gather_ps(_mm256_setzero_ps(), v.lfoTable,
                                                  _mm256_cvttps_epi32(lfo[h]), used[h], 4);
        for (int e = 0; e < 2; ++e) {
            const int block = 2 * h + e;
            const __m256d we =
                _mm256_cvtps_pd(e == 0 ? _mm256_castps256_ps128(w) : _mm256_extractf128_ps(w, 1));
            const __m256d ge =
                _mm256_cvtps_pd(e == 0 ? _mm256_castps256_ps128(g) : _mm256_extractf128_ps(g, 1));
            const __m256d isOpen = _mm256_cmp_pd(
                _mm256_cvtps_pd(_mm_load_ps(v.partialGate + 4 * block)), open, _CMP_EQ_OQ);
            const __m256d m = _mm256_blendv_pd(floorGain, ge, isOpen);
            _mm256_store_pd(row + 4 * block, _mm256_mul_pd(_mm256_mul_pd(we, m), amplitude[block]));
        }
    }
}

// Rows r[0..4) (four samples, four partials each) into columns (four partials, four samples
// each), written to out[c * stride].
inline void transpose4(const __m256d* r, double* out, int stride) {
    const __m256d t0 = _mm256_unpacklo_pd(r[0], r[1]);
    const __m256d t1 = _mm256_unpackhi_pd(r[0], r[1]);
    const __m256d t2 = _mm256_unpacklo_pd(r[2], r[3]);
    const __m256d t3 = _mm256_unpackhi_pd(r[2], r[3]);
    _mm256_store_pd(out + 0 * stride, _mm256_permute2f128_pd(t0, t2, 0x20));
    _mm256_store_pd(out + 1 * stride, _mm256_permute2f128_pd(t1, t3, 0x20));
    _mm256_store_pd(out + 2 * stride, _mm256_permute2f128_pd(t0, t2, 0x31));
    _mm256_store_pd(out + 3 * stride, _mm256_permute2f128_pd(t1, t3, 0x31));
}

// The sums of groups x 4 samples, each lane its own sample's chain in partial order; the round
// trip through float is the rounding after every addition. The group count is a constant so the
// accumulators stay in registers.
template <int Groups> void sumPartials(const double (*byPartial)[kChunk], float* sum) {
    __m256d acc[Groups];
    for (int g = 0; g < Groups; ++g) acc[g] = _mm256_setzero_pd();
    for (int i = 0; i < kNumPartials; ++i)
        for (int g = 0; g < Groups; ++g)
            acc[g] = _mm256_cvtps_pd(
                _mm256_cvtpd_ps(_mm256_add_pd(acc[g], _mm256_load_pd(&byPartial[i][kGroup * g]))));
    for (int g = 0; g < Groups; ++g) _mm_store_ps(sum + kGroup * g, _mm256_cvtpd_ps(acc[g]));
}

// A block of one frame: the one chain, without the empty ones beside it.
void renderOne(const ChunkVoice& v, const __m256d* amplitude, uint8_t mode, float* sum) {
    if (mode == kSilentSample) {
        *sum = 0.0f;
        return;
    }
    if (mode == kRestartSample) kernelsupport::restartLfos(v);
    alignas(32) double row[kLanes];
    renderPartials(v, amplitude, row);
    double acc = 0.0;
    for (int i = 0; i < kNumPartials; ++i) acc = static_cast<float>(acc + row[i]);
    *sum = static_cast<float>(acc);
}

void render(const ChunkVoice& v, const uint8_t* modes, int32_t count, float* sums) {
    alignas(32) double bySample[kGroup][kLanes];
    alignas(32) double byPartial[kLanes][kChunk];
    __m256d amplitude[kLanes / 4];
    for (int b = 0; b < kLanes / 4; ++b)
        amplitude[b] = _mm256_cvtps_pd(_mm_load_ps(v.amplitude + 4 * b));
    if (count == 1) return renderOne(v, amplitude, modes[0], sums);

    // Four samples at a time: their products, then turned around into byPartial.
    const int groups = (count + kGroup - 1) / kGroup;
    for (int g = 0; g < groups; ++g) {
        for (int s = 0; s < kGroup; ++s) {
            const int32_t k = kGroup * g + s;
            double* row = bySample[s];
            if (k >= count || modes[k] == kSilentSample) {
                for (int b = 0; b < kLanes / 4; ++b)
                    _mm256_store_pd(row + 4 * b, _mm256_setzero_pd());
                continue;
            }
            if (modes[k] == kRestartSample) kernelsupport::restartLfos(v);
            renderPartials(v, amplitude, row);
        }
        for (int b = 0; b < kLanes / 4; ++b) {
            __m256d r[4];
            for (int s = 0; s < 4; ++s) r[s] = _mm256_load_pd(bySample[s] + 4 * b);
            transpose4(r, &byPartial[4 * b][kGroup * g], kChunk);
        }
    }

    alignas(32) float sum[kChunk];
    switch (groups) {
    case 1: sumPartials<1>(byPartial, sum); break;
    case 2: sumPartials<2>(byPartial, sum); break;
    case 3: sumPartials<3>(byPartial, sum); break;
    case 4: sumPartials<4>(byPartial, sum); break;
    case 5: sumPartials<5>(byPartial, sum); break;
    case 6: sumPartials<6>(byPartial, sum); break;
    case 7: sumPartials<7>(byPartial, sum); break;
    default: sumPartials<8>(byPartial, sum); break;
    }
    for (int32_t k = 0; k < count; ++k) sums[k] = sum[k];
}

}  // namespace

extern const Kernel kAvx2Kernel;
const Kernel kAvx2Kernel{"avx2", kChunk, &render};
