// SPDX-License-Identifier: GPL-3.0-or-later
// The portable kernel: plain C++, no intrinsics, for every CPU without a kernel of its own (ARM64
// among them) and as the reference a new kernel can be read against. Up to sixteen samples' sums
// run side by side as independent chains.
#include "core/kernel.h"
#include "core/synth.h"

namespace {

constexpr int32_t kChunk = 16;

// Every loop here is a plain loop over local arrays, without branches in its body, so that the
// compiler can vectorise it for whatever the target offers (SSE2, NEON) without changing a
// single rounding.

// One sample of every partial, into column k of product ([partial][sample]).
void renderPartials(const ChunkVoice& v, double (*product)[kChunk], int32_t k) {
    float osc[kLanes], lfo[kLanes];
    for (int i = 0; i < kLanes; ++i) osc[i] = v.oscPhase[i] + v.oscStep[i];
    // Subtracting 0 would leave a positive phase unchanged: one wrap is a select.
    for (int i = 0; i < kLanes; ++i) osc[i] = osc[i] > 1024.0f ? osc[i] - 1024.0f : osc[i];
    for (int i = 0; i < kLanes; ++i) lfo[i] = v.lfoPhase[i] + v.lfoStep[i];
    int wrapsAgain = 0, cycleEnds = 0;
    for (int i = 0; i < kLanes; ++i) wrapsAgain |= osc[i] > 1024.0f;
    for (int i = 0; i < kLanes; ++i) cycleEnds |= lfo[i] > 1024.0f;
    for (int i = 0; i < kLanes; ++i) v.oscPhase[i] = osc[i];
    for (int i = 0; i < kLanes; ++i) v.lfoPhase[i] = lfo[i];
    if (wrapsAgain) kernelsupport::wrapOscPhases(v.oscPhase);
    if (cycleEnds) kernelsupport::endLfoCycles(v);

    int32_t oscIndex[kLanes], lfoIndex[kLanes];
    for (int i = 0; i < kLanes; ++i) oscIndex[i] = static_cast<int32_t>(v.oscPhase[i]);
    for (int i = 0; i < kLanes; ++i) lfoIndex[i] = static_cast<int32_t>(v.lfoPhase[i]);
    double w[kLanes], g[kLanes];
    for (int i = 0; i < kLanes; ++i) w[i] = v.shapedTable[oscIndex[i]];
    for (int i = 0; i < kLanes; ++i) g[i] = v.lfoTable[lfoIndex[i]];
    const double floorGain = v.floorGain;
    for (int i = 0; i < kLanes; ++i) {
        const double m = v.partialGate[i] == 1.0f ? g[i] : floorGain;
        product[i][k] = (w[i] * m) * static_cast<double>(v.amplitude[i]);
    }
}

// Each sample its own chain in partial order, rounded to float after every addition; the chains
// of Width samples run side by side (a constant width, so the loops vectorise and unroll).
template <int32_t Width> void sumPartials(const double (*product)[kChunk], float* sum) {
    double acc[Width] = {};
    for (int i = 0; i < kNumPartials; ++i)
        for (int32_t k = 0; k < Width; ++k) acc[k] = static_cast<float>(acc[k] + product[i][k]);
    for (int32_t k = 0; k < Width; ++k) sum[k] = static_cast<float>(acc[k]);
}

void render(const ChunkVoice& v, const uint8_t* modes, int32_t count, float* sums) {
    // Short blocks only pay for the samples they have.
    const int32_t width = count == 1 ? 1 : (count <= 4 ? 4 : kChunk);
    double product[kLanes][kChunk];
    for (int32_t k = 0; k < width; ++k) {
        if (k >= count || modes[k] == kSilentSample) {
            for (int i = 0; i < kLanes; ++i) product[i][k] = 0.0;
            continue;
        }
        if (modes[k] == kRestartSample) kernelsupport::restartLfos(v);
        renderPartials(v, product, k);
    }
    float sum[kChunk];
    if (width == 1) sumPartials<1>(product, sum);
    else if (width == 4) sumPartials<4>(product, sum);
    else sumPartials<kChunk>(product, sum);
    for (int32_t k = 0; k < count; ++k) sums[k] = sum[k];
}

}  // namespace

extern const Kernel kPortableKernel;
const Kernel kPortableKernel{"portable", kChunk, &render};
