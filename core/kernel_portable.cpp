// The portable kernel: plain C++, no intrinsics, for every CPU without a kernel of its own (ARM64
// among them) and as the reference a new kernel can be read against. Eight samples' sums run as
// eight independent chains, which the compiler interleaves.
#include "core/kernel.h"
#include "core/synth.h"

namespace {

constexpr int32_t kChunk = 8;

void renderPartials(const ChunkVoice& v, double* product) {
    bool wrapsAgain = false, cycleEnds = false;
    for (int i = 0; i < kLanes; ++i) {
        float p = v.oscPhase[i] + v.oscStep[i];
        p -= p > 1024.0f ? 1024.0f : 0.0f;
        wrapsAgain |= p > 1024.0f;
        v.oscPhase[i] = p;
        const float q = v.lfoPhase[i] + v.lfoStep[i];
        cycleEnds |= q > 1024.0f;
        v.lfoPhase[i] = q;
    }
    if (wrapsAgain) kernelsupport::wrapOscPhases(v.oscPhase);
    if (cycleEnds) kernelsupport::endLfoCycles(v);
    for (int i = 0; i < kLanes; ++i) {
        const double w = v.shapedTable[static_cast<int32_t>(v.oscPhase[i])];
        const double g = v.lfoTable[static_cast<int32_t>(v.lfoPhase[i])];
        const double m = v.partialGate[i] == 1.0f ? g : v.floorGain;
        product[i] = (w * m) * static_cast<double>(v.amplitude[i]);
    }
}

void render(const ChunkVoice& v, const uint8_t* modes, int32_t count, float* sums) {
    double product[kChunk][kLanes];
    for (int32_t k = 0; k < count; ++k) {
        if (modes[k] == kSilentSample) {
            for (double& p : product[k]) p = 0.0;
            continue;
        }
        if (modes[k] == kRestartSample) kernelsupport::restartLfos(v);
        renderPartials(v, product[k]);
    }
    for (int32_t k = count; k < kChunk; ++k)
        for (double& p : product[k]) p = 0.0;

    // Each sample its own chain in partial order, rounded to float after every addition.
    double acc[kChunk] = {};
    for (int i = 0; i < kNumPartials; ++i)
        for (int32_t k = 0; k < kChunk; ++k) acc[k] = static_cast<float>(acc[k] + product[k][i]);
    for (int32_t k = 0; k < count; ++k) sums[k] = static_cast<float>(acc[k]);
}

}  // namespace

extern const Kernel kPortableKernel;
const Kernel kPortableKernel{"portable", kChunk, &render};
