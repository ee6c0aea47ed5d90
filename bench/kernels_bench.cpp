// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-kernels-bench: the engine's render cost per output frame for each kernel this CPU runs,
// held note, program 3 ("Birds"), 44.1 kHz, in blocks of 1, 64 and 4096 frames; and two
// instances rendering on two threads at once against one alone. README's tables come from
//   build/corvex-kernels-bench --benchmark_repetitions=15
//     --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
// (one command line).
#include "core/kernel.h"
#include "core/synth.h"

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr float kRate = 44100.0f;
constexpr int kFramesPerIteration = 16384;
constexpr int kProgram = 3;

std::vector<const Kernel*> runnableKernels() {
    std::vector<const Kernel*> kernels;
    for (const Kernel* const* k = builtKernels(); *k; ++k)
        if (kernelRuns(**k)) kernels.push_back(*k);
    return kernels;
}

// A synth holding a note that never ends, so every block sounds, with its own output buffers.
struct Voice {
    explicit Voice(const Kernel& kernel, int block) : left(block), right(block) {
        synth.setKernel(kernel);
        synth.setSampleRate(kRate);
        synth.reset();
        synth.setProgram(kProgram);
        synth.setParameter(kSustain, 1.0f);
        const uint8_t noteOn[] = {0x90, 60, 100};
        synth.midi(noteOn, sizeof noteOn, 0, CorvexSynth::kCarryBeyondBlock);
    }
    void render(int frames) {
        const int block = static_cast<int>(left.size());
        for (int done = 0; done < frames; done += block)
            synth.render(left.data(), right.data(), block);
    }
    CorvexSynth synth;
    std::vector<float> left, right;
};

void perFrame(benchmark::State& state, double frames) {
    state.counters["ns/frame"] = benchmark::Counter(
        frames * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Args: kernel (index among those this CPU runs), block size.
void BM_Kernel(benchmark::State& state) {
    const Kernel& kernel = *runnableKernels().at(static_cast<std::size_t>(state.range(0)));
    const auto block = static_cast<int>(state.range(1));
    auto voice = std::make_unique<Voice>(kernel, block);
    for (auto _ : state) {
        voice->render(kFramesPerIteration);
        benchmark::DoNotOptimize(voice->left.data());
        benchmark::ClobberMemory();
    }
    perFrame(state, kFramesPerIteration);
    state.SetLabel(kernel.name);
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One or two instances, each on its own thread, each rendering the same length. "ns/frame" is
// wall-clock time per frame of all instances together, so two instances scaling perfectly halve
// the one-instance figure; that needs two idle cores. "cpu ns/frame" is each instance's own CPU
// time per frame of its own: if the instances disturbed each other (a shared cache line, a
// lock), it would grow with two; on a busy machine it still shows that they do not.
// Args: kernel, instances.
void BM_KernelThreads(benchmark::State& state) {
    const Kernel& kernel = *runnableKernels().at(static_cast<std::size_t>(state.range(0)));
    const bool two = state.range(1) == 2;
    constexpr int kBlock = 64;
    constexpr int kFrames = kFramesPerIteration * 32;
    // Separate allocations, each aligned to whole cache lines: no line is shared between them.
    auto first = std::make_unique<Voice>(kernel, kBlock);
    auto second = std::make_unique<Voice>(kernel, kBlock);
    double cpu[2] = {0.0, 0.0};
    for (auto _ : state) {
        std::thread other;
        if (two)
            other = std::thread([&] {
                const double start = threadCpuSeconds();
                second->render(kFrames);
                cpu[1] += threadCpuSeconds() - start;
            });
        const double start = threadCpuSeconds();
        first->render(kFrames);
        cpu[0] += threadCpuSeconds() - start;
        if (two) other.join();
        benchmark::ClobberMemory();
    }
    perFrame(state, (two ? 2.0 : 1.0) * kFrames);
    const double instances = two ? 2.0 : 1.0;
    state.counters["cpu ns/frame"] =
        1e9 * (cpu[0] + cpu[1]) / (instances * kFrames * static_cast<double>(state.iterations()));
    state.SetLabel(std::string(kernel.name) + (two ? " two instances" : " one instance"));
}

void kernelsAndBlocks(benchmark::internal::Benchmark* b) {
    for (std::size_t k = 0; k < runnableKernels().size(); ++k)
        for (int block : {1, 64, 4096}) b->Args({static_cast<int64_t>(k), block});
}

void kernelsOnly(benchmark::internal::Benchmark* b) {
    for (std::size_t k = 0; k < runnableKernels().size(); ++k)
        for (int instances : {1, 2}) b->Args({static_cast<int64_t>(k), instances});
}

// The fastest of the repetitions next to the median: on a machine shared with other work the
// minimum is the run that was least disturbed.
double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK(BM_Kernel)
    ->Apply(kernelsAndBlocks)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_KernelThreads)
    ->Apply(kernelsOnly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

}  // namespace

BENCHMARK_MAIN();
