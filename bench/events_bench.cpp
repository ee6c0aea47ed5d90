// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-events-bench: what events at their frames cost the engine. A held note with no events
// against dense scores (an event every 8 frames) at 64-frame blocks, 44.1 kHz, program 3
// ("Birds"), with the kernel this CPU picks:
// - "held": one note-on, then nothing;
// - "legato": a note-on of another note every 8 frames, each retuning the voice (the most a
//   score can ask of the derivations);
// - "bends": a pitch bend every 8 frames;
// - "random": the tests' dense random scores (notes, note-offs, bends, releases), looped.
// The target is dense at most 2x held. README's figures come from
//   build/corvex-events-bench --benchmark_repetitions=9
//     --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
// (one command line).
#include "core/synth.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr float kRate = 44100.0f;
constexpr int32_t kBlock = 64;
constexpr int32_t kFramesPerIteration = 16384;
constexpr int32_t kProgram = 3;

struct Event {
    int32_t frame;  // within the iteration's frames
    uint8_t bytes[3];
};

std::vector<Event> score(int kind) {
    std::vector<Event> events;
    std::mt19937 random(3);
    for (int32_t frame = 0; kind != 0 && frame < kFramesPerIteration; frame += 8) {
        const auto note = static_cast<uint8_t>(48 + (frame / 8) % 24);
        if (kind == 1) events.push_back({frame, {0x90, note, 100}});
        else if (kind == 2)
            events.push_back({frame,
                              {0xE0, static_cast<uint8_t>(random() % 128),
                               static_cast<uint8_t>(random() % 128)}});
        else {
            const uint32_t pick = random() % 100;
            if (pick < 35) events.push_back({frame, {0x90, note, 100}});
            else if (pick < 60) events.push_back({frame, {0x80, note, 0}});
            else if (pick < 90)
                events.push_back({frame, {0xE0, static_cast<uint8_t>(random() % 128), 0x40}});
            else events.push_back({frame, {0xB0, 123, 0}});
        }
    }
    return events;
}

// Arg: 0 held, 1 legato, 2 bends, 3 random.
void BM_Events(benchmark::State& state) {
    const auto kind = static_cast<int>(state.range(0));
    const std::vector<Event> events = score(kind);
    CorvexSynth synth;
    synth.setSampleRate(kRate);
    synth.reset();
    synth.setProgram(kProgram);
    synth.setParameter(kSustain, 1.0f);
    const uint8_t noteOn[] = {0x90, 60, 100};
    synth.midi(noteOn, sizeof noteOn, 0, kBlock);
    std::vector<float> left(kBlock), right(kBlock);
    for (auto _ : state) {
        auto next = events.begin();
        for (int32_t pos = 0; pos < kFramesPerIteration; pos += kBlock) {
            for (; next != events.end() && next->frame < pos + kBlock; ++next)
                synth.midi(next->bytes, 3, next->frame - pos, kBlock);
            synth.render(left.data(), right.data(), kBlock);
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns/frame"] = benchmark::Counter(kFramesPerIteration * 1e-9,
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
    const char* names[] = {"held", "legato", "bends", "random"};
    state.SetLabel(names[kind]);
}

double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK(BM_Events)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);

}  // namespace

BENCHMARK_MAIN();
