// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's portable pow and sin against the C library's, and what they cost a sounding
// block: the render loop calls pow 60 times per block for the partials' steps and 1024 times for
// the shaped wave (unless "OSC shap" is 0).
#include "vst2/corvex.h"
#include "core/mathfns.h"
#include "hostkit/host_answers.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

// The shaped table's bases: the raised cosine of the engine's unipolar table.
std::vector<double> unipolarBases() {
    std::vector<double> bases(kTableSize);
    for (int i = 0; i < kTableSize; ++i)
        bases[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(i * (6.283185307179586 / 1024));
    return bases;
}

template <double (*Pow)(double, double)> void shapedTable(benchmark::State& state) {
    const std::vector<double> bases = unipolarBases();
    double q = 1.0;
    for (auto _ : state) {
        double sum = 0.0;
        for (double u : bases) sum += Pow(u, q);
        benchmark::DoNotOptimize(sum);
        q = q < 20.0 ? q + 0.37 : 1.0;
    }
    state.SetItemsProcessed(state.iterations() * kTableSize);
}

double libraryPow(double x, double y) { return std::pow(x, y); }
double portablePow(double x, double y) { return mathfns::pow(x, y); }
BENCHMARK(shapedTable<libraryPow>)->Name("pow/C library, shaped table of 1024");
BENCHMARK(shapedTable<portablePow>)->Name("pow/mathfns, shaped table of 1024");

void sineTable(benchmark::State& state) {
    for (auto _ : state) {
        double sum = 0.0;
        for (int i = 0; i < kTableSize; ++i)
            sum += mathfns::sin(static_cast<float>(i / 1024.0) * 6.2831855 - 1.5707964);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kTableSize);
}
BENCHMARK(sineTable)->Name("sin/mathfns, sine table of 1024 (once per open)");

// A sounding block of program 12 ("OSC shap" above 0), at the frame count given; with "moving",
// "OSC shap" changes before every block, so the shaped table (1024 pow calls) is rebuilt each
// time. items_per_second / 44100 is how many times faster than real time it runs.
void soundingBlock(benchmark::State& state, bool moving) {
    Corvex effect(hostkit::versionOnlyHost);
    effect.open();
    effect.setProgram(12);
    const uint8_t noteOn[] = {0x90, 60, 100};
    effect.core().midi(noteOn, sizeof noteOn, 0, CorvexSynth::kCarryBeyondBlock);
    const auto frames = static_cast<int32_t>(state.range(0));
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
    float* outputs[2] = {left.data(), right.data()};
    float shape = 0.5f;
    for (auto _ : state) {
        if (moving) {
            shape = shape > 0.9f ? 0.1f : shape + 0.01f;
            effect.setParameter(kOscShap, shape);
        }
        effect.processReplacing(outputs, outputs, frames);
    }
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK_CAPTURE(soundingBlock, steady, false)->Arg(32)->Arg(64)->Arg(256)->Arg(512);
BENCHMARK_CAPTURE(soundingBlock, shape moving, true)->Arg(32)->Arg(64)->Arg(256)->Arg(512);

}  // namespace
