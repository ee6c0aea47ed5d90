// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-render-bench: real-time factor of a 60-second render through the built corvex.so, by
// the host-side render loop alone and by the whole corvex-render command writing a WAV file.
#include "tools/corvex-render/app.h"
#include "hostkit/plugin.h"
#include "hostkit/render.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

constexpr double kSeconds = 60.0;
constexpr uint32_t kRate = 48000;
const char* const kPrograms[] = {"Aquatic", "Birds", "Texture-4"};

// Seconds of audio per second of wall time, from the mean wall time of an iteration.
class RealTimeFactor {
public:
    void lap(std::chrono::steady_clock::time_point begin) {
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ++laps;
    }
    void report(benchmark::State& state) const {
        if (wall > 0.0) state.counters["x_realtime"] = kSeconds * laps / wall;
    }

private:
    double wall = 0.0;
    int laps = 0;
};

// Args: program (index into kPrograms), block size.
void BM_RenderLoop(benchmark::State& state) {
    const hostkit::Library library(CORVEX_PLUGIN_PATH);
    const auto frames = static_cast<int64_t>(kSeconds * kRate);
    const auto block = static_cast<int32_t>(state.range(1));
    RealTimeFactor factor;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        hostkit::Plugin plugin(library);
        plugin.open(kRate, block);
        plugin.start();
        plugin.setProgram(renderer::findProgram(plugin, kPrograms[state.range(0)]));
        // Held for the whole minute: every block sounds.
        hostkit::render(
            plugin, hostkit::noteEvents(60, 100, frames), frames,
            [](const float* const* ch, int32_t) { benchmark::DoNotOptimize(ch[0][0]); });
        factor.lap(begin);
    }
    state.SetLabel(kPrograms[state.range(0)]);
    factor.report(state);
}
BENCHMARK(BM_RenderLoop)
    ->ArgsProduct({{0, 1, 2}, {512}})
    ->Args({1, 64})
    ->Args({1, 4096})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The command as a user runs it: 59 s held, 1 s tail, 24-bit WAV.
void BM_RenderCommand(benchmark::State& state) {
    char dir[] = "/tmp/corvex-bench-XXXXXX";
    if (!::mkdtemp(dir)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string out = std::string(dir) + "/bench.wav";
    RealTimeFactor factor;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const int status =
            renderer::run({"--plugin", CORVEX_PLUGIN_PATH, "--program", kPrograms[state.range(0)],
                           "--length", "59", "--tail", "1", "-q", "-o", out},
                          stdout, stderr);
        if (status != 0) state.SkipWithError("render failed");
        factor.lap(begin);
    }
    std::remove(out.c_str());
    ::rmdir(dir);
    state.SetLabel(kPrograms[state.range(0)]);
    factor.report(state);
}
BENCHMARK(BM_RenderCommand)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
