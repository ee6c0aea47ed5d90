// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel table, the choice of kernel from the CPU's features, and the scalar paths every
// kernel shares. Compiled for the baseline instruction set: this file runs on any CPU the binary
// runs on, whichever kernels are built in.
#include "core/kernel.h"
#include "core/synth.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

extern const Kernel kPortableKernel;
#if defined(CORVEX_KERNEL_SSE2)
extern const Kernel kSse2Kernel;
#endif
#if defined(CORVEX_KERNEL_AVX2)
extern const Kernel kAvx2Kernel;
#endif
#if defined(CORVEX_KERNEL_AVX512)
extern const Kernel kAvx512Kernel;
#endif

namespace {

// Addresses of the kernels' constant records: constant expressions, whatever order the records
// are initialised in.
// NOLINTNEXTLINE(cppcoreguidelines-interfaces-global-init)
const Kernel* const kBuilt[] = {
#if defined(CORVEX_KERNEL_AVX512)
    &kAvx512Kernel,
#endif
#if defined(CORVEX_KERNEL_AVX2)
    &kAvx2Kernel,
#endif
#if defined(CORVEX_KERNEL_SSE2)
    &kSse2Kernel,
#endif
    &kPortableKernel, nullptr,
};

bool cpuHas(const char* name) {
#if defined(CORVEX_KERNEL_AVX2) || defined(CORVEX_KERNEL_AVX512)
    // The compiler's own CPU model also checks that the operating system saves the wide
    // registers (XGETBV), not only that the CPU has them.
    __builtin_cpu_init();
    if (std::strcmp(name, "avx2") == 0) return __builtin_cpu_supports("avx2");
    if (std::strcmp(name, "avx512") == 0)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
#endif
    // SSE2 is the baseline of every x86 build that compiles its kernel in; portable runs anywhere.
    return std::strcmp(name, "sse2") == 0 || std::strcmp(name, "portable") == 0;
}

struct Choice {
    const Kernel* kernel;
    char requested[16];
};

Choice choose() {
    Choice c{nullptr, ""};
    const char* wanted = std::getenv("CORVEX_KERNEL");
    if (wanted) {
        std::strncpy(c.requested, wanted, sizeof c.requested - 1);
        c.kernel = findKernel(wanted);
    }
    for (const Kernel* const* k = kBuilt; !c.kernel && *k; ++k)
        if (kernelRuns(**k)) c.kernel = *k;
    return c;
}

const Choice& choice() {
    static const Choice c = choose();
    return c;
}

void drawGate(const ChunkVoice& v, int partial) {
    if (v.lfoRand > 0.0f) {
        const float r = static_cast<float>(v.random->next() / 32767.0);
        v.partialGate[partial] = v.lfoRand > r ? 0.0f : 1.0f;
    } else {
        v.partialGate[partial] = 1.0f;
    }
}

}  // namespace

const Kernel* const* builtKernels() { return kBuilt; }

bool kernelRuns(const Kernel& kernel) { return cpuHas(kernel.name); }

const Kernel* findKernel(const char* name) {
    if (!name) return nullptr;
    for (const Kernel* const* k = kBuilt; *k; ++k)
        if (std::strcmp((*k)->name, name) == 0 && kernelRuns(**k)) return *k;
    return nullptr;
}

const Kernel& activeKernel() { return *choice().kernel; }

const char* requestedKernel() { return choice().requested; }

namespace kernelsupport {

// Brings a phase back into (0, 1024] as repeated subtraction of 1024 would. Every such
// subtraction is exact for phases below 2^34, so subtracting all the cycles at once gives the
// same bits.
void wrapOscPhases(float* oscPhase) {
    for (int i = 0; i < kLanes; ++i) {
        float phase = oscPhase[i];
        if (phase <= 1024.0f) continue;
        phase -= 1024.0f;
        if (phase > 1024.0f) {
            const double cycles = std::ceil(static_cast<double>(phase) / 1024.0) - 1.0;
            phase = static_cast<float>(static_cast<double>(phase) - cycles * 1024.0);
        }
        oscPhase[i] = phase;
    }
}

void endLfoCycles(const ChunkVoice& v) {
    for (int i = 0; i < kNumPartials; ++i) {
        while (v.lfoPhase[i] > 1024.0f) {
            v.lfoPhase[i] -= 1024.0f;
            drawGate(v, i);
        }
    }
}

void restartLfos(const ChunkVoice& v) {
    for (int i = 0; i < kNumPartials; ++i) {
        v.lfoPhase[i] = v.lfoPhaseOffset[i];
        v.partialGate[i] = 1.0f;
    }
}

}  // namespace kernelsupport
