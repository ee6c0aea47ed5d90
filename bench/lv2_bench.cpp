// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-lv2-bench: the LV2 face's cost per output sample against the core's own, at 64-frame
// blocks, for the programs corvex-bench uses. The face's run adds reading fourteen controls and
// walking the (here empty) event sequence; the target is within 3 % of the core.
#include "core/synth.h"
#include "lv2/corvex_lv2.h"

#include <lv2/atom/atom.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr int32_t kBlock = 64;
constexpr int kFramesPerIteration = 16384;

void counters(benchmark::State& state, const char* what, int32_t program) {
    const double frames = kFramesPerIteration;
    state.counters["ns/sample"] = benchmark::Counter(
        frames * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(std::string(what) + " " + prognames[program]);
}

void BM_Core(benchmark::State& state) {
    const auto program = static_cast<int32_t>(state.range(0));
    CorvexSynth synth;
    synth.setSampleRate(static_cast<float>(kRate));
    synth.reset();
    synth.setProgram(program);
    // A held note that never ends, so every block sounds.
    synth.setParameter(kSustain, 1.0f);
    const uint8_t noteOn[] = {0x90, 60, 100};
    synth.midi(noteOn, sizeof noteOn, 0, CorvexSynth::kCarryBeyondBlock);
    std::vector<float> left(kBlock), right(kBlock);
    for (auto _ : state) {
        for (int done = 0; done < kFramesPerIteration; done += kBlock)
            synth.render(left.data(), right.data(), kBlock);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    counters(state, "core", program);
}

void BM_Lv2Face(benchmark::State& state) {
    const auto program = static_cast<int32_t>(state.range(0));
    const corvex_lv2::Urids urids{1, 2, 3};
    corvex_lv2::CorvexLv2 face(kRate, urids, kBlock);
    float controls[kNumParams];
    const FactoryProgram factory = factoryProgram(program);
    for (int32_t i = 0; i < kNumParams; ++i) {
        controls[i] = i == kSustain ? 1.0f : factory.values[i];
        face.connectPort(static_cast<uint32_t>(i), &controls[i]);
    }
    // An empty sequence each run after the note, as a host sends one.
    LV2_Atom_Sequence sequence{};
    sequence.atom.type = urids.atomSequence;
    sequence.atom.size = sizeof(LV2_Atom_Sequence_Body);
    face.connectPort(corvex_lv2::kMidiInPort, &sequence);
    std::vector<float> left(kBlock), right(kBlock);
    face.connectPort(corvex_lv2::kLeftOutPort, left.data());
    face.connectPort(corvex_lv2::kRightOutPort, right.data());
    face.activate();
    const uint8_t noteOn[] = {0x90, 60, 100};
    face.core().midi(noteOn, sizeof noteOn, 0, CorvexSynth::kCarryBeyondBlock);
    for (auto _ : state) {
        for (int done = 0; done < kFramesPerIteration; done += kBlock) face.run(kBlock);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    counters(state, "lv2", program);
}

void programs(benchmark::internal::Benchmark* b) {
    for (int program : {0, 3, 5, 12}) b->Arg(program);
}

}  // namespace

BENCHMARK(BM_Core)->Apply(programs);
BENCHMARK(BM_Lv2Face)->Apply(programs);
BENCHMARK_MAIN();
