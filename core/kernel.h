// SPDX-License-Identifier: GPL-3.0-or-later
// The render loop's per-chunk partial work behind one signature, with one implementation per
// instruction set (portable C++, SSE2, AVX2, AVX-512), and the choice among them.
//
// Every kernel gives exactly the same samples: the same float and double roundings in the same
// order, no fused multiply-adds. They differ only in how many partials and samples they work on
// side by side.
//
// Threads: activeKernel() and findKernel() may be called from any thread; the choice is made once,
// at the first call (CorvexSynth's constructor makes it, never the audio thread). A kernel's
// render runs on the audio thread and touches nothing but what ChunkVoice points to.
#pragma once

#include <cstdint>

class RandomGenerator;

// Everything a chunk reads and writes of one voice. The per-partial arrays hold kLanes entries
// (padding lanes have step and amplitude 0) and are aligned to kLaneAlignment bytes.
struct ChunkVoice {
    float* oscPhase;
    float* lfoPhase;
    float* partialGate;  // 1 open, 0 closed
    const float* lfoPhaseOffset;
    const float* oscStep;
    const float* lfoStep;
    const float* amplitude;
    const float* shapedTable;  // kTableSize + 1 entries
    const float* lfoTable;     // kTableSize + 1 entries
    double floorGain;          // the LFO gain of a partial whose gate is closed: 1 - depth
    float lfoRand;
    RandomGenerator* random;
};

// What the envelope asks of each sample of a chunk.
enum ChunkSample : uint8_t {
    kSilentSample = 0,    // the voice is idle: the sum is 0 and no phase moves
    kSoundingSample = 1,  // phases advance, partials are summed
    kRestartSample = 2,   // an attack starts from the top: LFO phases back to their offsets and
                          // every gate open, then as kSoundingSample
};

// The most samples any kernel takes in one call.
constexpr int32_t kMaxChunk = 64;
// The widest vector any kernel loads from the per-partial arrays, in bytes.
constexpr int kLaneAlignment = 64;

struct Kernel {
    const char* name;  // "portable", "sse2", "avx2", "avx512"
    int32_t chunk;     // samples per call, at most kMaxChunk
    // Renders count (1..chunk) samples: modes[k] says what sample k is, sums[k] receives the sum
    // of the partials of sample k, each partial added in order and rounded to float after every
    // addition.
    void (*render)(const ChunkVoice& voice, const uint8_t* modes, int32_t count, float* sums);
};

// Every kernel built into this binary, best first; null-terminated.
const Kernel* const* builtKernels();
// Whether this CPU (and its operating system) can run the kernel.
bool kernelRuns(const Kernel& kernel);
// The kernel named name if it is built in and this CPU runs it; null otherwise (also for null).
const Kernel* findKernel(const char* name);
// The kernel every new synth uses: the one CORVEX_KERNEL names if this CPU runs it, otherwise
// the best this CPU runs. Chosen at the first call and never again.
const Kernel& activeKernel();
// What CORVEX_KERNEL asked for when the choice was made ("" when it was not set), for reports.
const char* requestedKernel();

// ---- For the kernels: the rare scalar paths, compiled once for the baseline instruction set ----
namespace kernelsupport {
// Brings every oscillator phase above one cycle back into (0, 1024].
void wrapOscPhases(float* oscPhase);
// Ends every completed LFO cycle in partial order, drawing each partial's random gate as it goes.
void endLfoCycles(const ChunkVoice& voice);
// LFO phases back to their offsets and every gate open (an attack from the top).
void restartLfos(const ChunkVoice& voice);
}  // namespace kernelsupport
