// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-bench: render cost per output sample and real-time factor at 44.1 kHz, per program
// and block size, for the engine as shipped and for its straightforward per-block path.
#include "vst2/corvex.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr float kRate = 44100.0f;
constexpr int kFramesPerIteration = 16384;

void startNote(Corvex& fx) {
    VstMidiEvent on{};
    on.type = kVstMidiType;
    on.byteSize = sizeof on;
    on.midiData[0] = static_cast<char>(0x90);
    on.midiData[1] = 60;
    on.midiData[2] = 100;
    VstEvents list{};
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<VstEvent*>(&on);
    fx.processEvents(&list);
}

// Args: program, block size, cached (1) or straightforward (0).
void BM_Render(benchmark::State& state) {
    const auto program = static_cast<int32_t>(state.range(0));
    const auto block = static_cast<int32_t>(state.range(1));
    const bool cached = state.range(2) != 0;

    Corvex fx(nullptr);
    fx.setSampleRate(kRate);
    fx.open();
    fx.core().setDerivedCaching(cached);
    fx.setProgram(program);
    // A held note that never ends, so every block sounds.
    fx.setParameter(kSustain, 1.0f);
    startNote(fx);
    std::vector<float> left(block), right(block);
    float* outputs[2] = {left.data(), right.data()};
    for (auto _ : state) {
        for (int done = 0; done < kFramesPerIteration; done += block)
            fx.processReplacing(nullptr, outputs, block);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    const double frames = kFramesPerIteration;
    state.counters["ns/sample"] = benchmark::Counter(
        frames * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["x realtime"] =
        benchmark::Counter(frames / kRate, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(std::string(prognames[program]) + (cached ? " cached" : " straightforward"));
}

// 0 "Aquatic": plain sine wave, random gates. 3 "Birds": shaped wave. 5 "Chimes-2": random
// phase offsets. 12 "Texture-4": strongly shaped wave, sharp LFO.
void programs(benchmark::internal::Benchmark* b) {
    for (int program : {0, 3, 5, 12})
        for (int block : {16, 64, 256, 1024, 4096})
            for (int cached : {1, 0}) b->Args({program, block, cached});
}

BENCHMARK(BM_Render)->Apply(programs)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
