// SPDX-License-Identifier: GPL-3.0-or-later
// The AVX-512 kernel (F and DQ): sixteen partials side by side for the phases and table reads,
// eight for the products, and 64 samples' sums in eight registers of eight.
//
// Within a sample the partial sum is a chain of dependent additions, each followed by a round
// trip through float; it may not be reordered, so the only parallelism is across samples. The
// chunk therefore first works out every partial's product sample by sample (phases, wraps and
// gate draws in their sequential order), then turns the products around in 8 x 8 blocks so that
// one register holds one partial of eight samples, and runs eight such chains side by side.
//
// Compiled with -mavx512f -mavx512dq and nothing else: no fused multiply-add is allowed. Only
// intrinsics and code of this file's own: an inline function shared with files compiled for
// the baseline could be kept by the linker in its AVX-512 form and run on a CPU without it.
#include "core/kernel.h"
#include "core/synth.h"

// GCC 12's AVX-512 intrinsics start their results from _mm512_undefined_*(), which its own
// uninitialised-use warnings then report (GCC bug 105593); nothing here reads such a value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

namespace {

constexpr int32_t kChunk = 64;
constexpr int kGroup = 8;  // samples per register of doubles

// One sample of every partial, into row[0..kLanes). The arrays come in as locals: read through
// the voice, every store to a phase would make the compiler fetch the pointers again.
inline void renderPartials(const ChunkVoice& v, const __m512d* amplitude, double* row) {
    float* const oscPhase = v.oscPhase;
    float* const lfoPhase = v.lfoPhase;
    const float* const oscStep = v.oscStep;
    const float* const lfoStep = v.lfoStep;
    const __m512 cycle = _mm512_set1_ps(1024.0f);
    __m512 osc[2], lfo[2];
    __mmask16 wrapsAgain = 0, cycleEnds = 0;
    for (int h = 0; h < 2; ++h) {
        __m512 p =
            _mm512_add_ps(_mm512_load_ps(oscPhase + 16 * h), _mm512_load_ps(oscStep + 16 * h));
        p = _mm512_mask_sub_ps(p, _mm512_cmp_ps_mask(p, cycle, _CMP_GT_OQ), p, cycle);
        wrapsAgain |= _mm512_cmp_ps_mask(p, cycle, _CMP_GT_OQ);
        _mm512_store_ps(oscPhase + 16 * h, p);
        osc[h] = p;
        const __m512 q =
            _mm512_add_ps(_mm512_load_ps(lfoPhase + 16 * h), _mm512_load_ps(lfoStep + 16 * h));
        cycleEnds |= _mm512_cmp_ps_mask(q, cycle, _CMP_GT_OQ);
        _mm512_store_ps(lfoPhase + 16 * h, q);
        lfo[h] = q;
    }
    if (wrapsAgain) {
        kernelsupport::wrapOscPhases(oscPhase);
        for (int h = 0; h < 2; ++h) osc[h] = _mm512_load_ps(oscPhase + 16 * h);
    }
    if (cycleEnds) {
        kernelsupport::endLfoCycles(v);
        for (int h = 0; h < 2; ++h) lfo[h] = _mm512_load_ps(lfoPhase + 16 * h);
    }

    // The table reads are most of a sample's loads: the two padding lanes are left out.
    static_assert(kNumPartials > 16 && kLanes == 32);
    const __mmask16 used[2] = {0xFFFF, static_cast<__mmask16>((1u << (kNumPartials - 16)) - 1)};
    const __m512d floorGain = _mm512_set1_pd(v.floorGain);
    const __m512 open = _mm512_set1_ps(1.0f);
    for (int h = 0; h < 2; ++h) {
        const __m512 w = _mm512_mask_i32gather_ps(_mm512_setzero_ps(), used[h],
                                                  _mm512_cvttps_epi32(osc[h]), v.shapedTable, 4);
        const __m512 g = _mm512_mask_i32gather_ps(_mm512_setzero_ps(), used[h],
                                                  _mm512_cvttps_epi32(lfo[h]), v.lfoTable, 4);
        const __mmask16 isOpen =
            _mm512_cmp_ps_mask(_mm512_load_ps(v.partialGate + 16 * h), open, _CMP_EQ_OQ);
        for (int e = 0; e < 2; ++e) {
            const int block = 2 * h + e;
            const __m512d we =
                _mm512_cvtps_pd(e == 0 ? _mm512_castps512_ps256(w) : _mm512_extractf32x8_ps(w, 1));
            const __m512d ge =
                _mm512_cvtps_pd(e == 0 ? _mm512_castps512_ps256(g) : _mm512_extractf32x8_ps(g, 1));
            const __m512d m =
                _mm512_mask_blend_pd(static_cast<__mmask8>(isOpen >> (8 * e)), floorGain, ge);
            _mm512_store_pd(row + 8 * block, _mm512_mul_pd(_mm512_mul_pd(we, m), amplitude[block]));
        }
    }
}

// Rows r[0..8) (eight samples, eight partials each) into columns (eight partials, eight samples
// each), written to out[c * stride].
inline void transpose8(const __m512d* r, double* out, int stride) {
    __m512d t[8], u[8];
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm512_unpacklo_pd(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm512_unpackhi_pd(r[2 * i], r[2 * i + 1]);
    }
    // 128-bit lanes: u[0] holds columns 0 and 4 of rows 0-3, u[1] columns 2 and 6, and so on.
    for (int i = 0; i < 2; ++i) {
        const int a = 4 * i;
        u[a + 0] = _mm512_shuffle_f64x2(t[a + 0], t[a + 2], 0x88);
        u[a + 1] = _mm512_shuffle_f64x2(t[a + 0], t[a + 2], 0xDD);
        u[a + 2] = _mm512_shuffle_f64x2(t[a + 1], t[a + 3], 0x88);
        u[a + 3] = _mm512_shuffle_f64x2(t[a + 1], t[a + 3], 0xDD);
    }
    _mm512_store_pd(out + 0 * stride, _mm512_shuffle_f64x2(u[0], u[4], 0x88));
    _mm512_store_pd(out + 4 * stride, _mm512_shuffle_f64x2(u[0], u[4], 0xDD));
    _mm512_store_pd(out + 2 * stride, _mm512_shuffle_f64x2(u[1], u[5], 0x88));
    _mm512_store_pd(out + 6 * stride, _mm512_shuffle_f64x2(u[1], u[5], 0xDD));
    _mm512_store_pd(out + 1 * stride, _mm512_shuffle_f64x2(u[2], u[6], 0x88));
    _mm512_store_pd(out + 5 * stride, _mm512_shuffle_f64x2(u[2], u[6], 0xDD));
    _mm512_store_pd(out + 3 * stride, _mm512_shuffle_f64x2(u[3], u[7], 0x88));
    _mm512_store_pd(out + 7 * stride, _mm512_shuffle_f64x2(u[3], u[7], 0xDD));
}

// The sums of groups x 8 samples, each lane its own sample's chain in partial order; the round
// trip through float is the rounding after every addition. The group count is a constant so the
// accumulators stay in registers.
template <int Groups> void sumPartials(const double (*byPartial)[kChunk], float* sum) {
    __m512d acc[Groups];
    for (int g = 0; g < Groups; ++g) acc[g] = _mm512_setzero_pd();
    for (int i = 0; i < kNumPartials; ++i)
        for (int g = 0; g < Groups; ++g)
            acc[g] = _mm512_cvtps_pd(
                _mm512_cvtpd_ps(_mm512_add_pd(acc[g], _mm512_load_pd(&byPartial[i][kGroup * g]))));
    for (int g = 0; g < Groups; ++g) _mm256_store_ps(sum + kGroup * g, _mm512_cvtpd_ps(acc[g]));
}

// A block of one frame: the one chain, without the empty ones beside it.
void renderOne(const ChunkVoice& v, const __m512d* amplitude, uint8_t mode, float* sum) {
    if (mode == kSilentSample) {
        *sum = 0.0f;
        return;
    }
    if (mode == kRestartSample) kernelsupport::restartLfos(v);
    alignas(64) double row[kLanes];
    renderPartials(v, amplitude, row);
    double acc = 0.0;
    for (int i = 0; i < kNumPartials; ++i) acc = static_cast<float>(acc + row[i]);
    *sum = static_cast<float>(acc);
}

void render(const ChunkVoice& v, const uint8_t* modes, int32_t count, float* sums) {
    alignas(64) double bySample[kGroup][kLanes];
    alignas(64) double byPartial[kLanes][kChunk];
    __m512d amplitude[kLanes / 8];
    for (int b = 0; b < kLanes / 8; ++b)
        amplitude[b] = _mm512_cvtps_pd(_mm256_load_ps(v.amplitude + 8 * b));
    if (count == 1) return renderOne(v, amplitude, modes[0], sums);

    // Eight samples at a time: their products, then turned around into byPartial.
    const int groups = (count + kGroup - 1) / kGroup;
    for (int g = 0; g < groups; ++g) {
        for (int s = 0; s < kGroup; ++s) {
            const int32_t k = kGroup * g + s;
            double* row = bySample[s];
            if (k >= count || modes[k] == kSilentSample) {
                for (int b = 0; b < kLanes / 8; ++b)
                    _mm512_store_pd(row + 8 * b, _mm512_setzero_pd());
                continue;
            }
            if (modes[k] == kRestartSample) kernelsupport::restartLfos(v);
            renderPartials(v, amplitude, row);
        }
        for (int b = 0; b < kLanes / 8; ++b) {
            __m512d r[8];
            for (int s = 0; s < 8; ++s) r[s] = _mm512_load_pd(bySample[s] + 8 * b);
            transpose8(r, &byPartial[8 * b][kGroup * g], kChunk);
        }
    }

    alignas(64) float sum[kChunk];
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

extern const Kernel kAvx512Kernel;
const Kernel kAvx512Kernel{"avx512", kChunk, &render};
