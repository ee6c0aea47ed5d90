// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the derived-value caches: the engine with caching must render the same bits, and
// draw the same random numbers, as the engine that derives everything every block, with every
// render kernel this CPU runs.
#include "support/synth_harness.h"

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Drives two engines through the same script, one cached and one not, comparing every block.
class Pair {
public:
    explicit Pair(int program, const Kernel& kernel = activeKernel()) {
        cached.fx.core().setKernel(kernel);
        plain.fx.core().setKernel(kernel);
        cached.fx.core().setDerivedCaching(true);
        plain.fx.core().setDerivedCaching(false);
        both([&](Synth& s) { s.fx.setProgram(program); });
    }
    template <class F> void both(F f) {
        f(cached);
        f(plain);
    }
    void expectSameBlock(int frames) {
        const auto a = cached.render(frames);
        const auto b = plain.render(frames);
        ASSERT_EQ(a, b);
    }
    Synth cached, plain;
};

std::vector<std::string> builtKernelNames() {
    std::vector<std::string> names;
    for (const Kernel* const* k = builtKernels(); *k; ++k) names.push_back((*k)->name);
    return names;
}

class CachingInEveryProgram : public ::testing::TestWithParam<std::tuple<int, std::string>> {};

TEST_P(CachingInEveryProgram, SameBitsThroughChangesOfEveryInput) {
    const auto& [program, kernelName] = GetParam();
    const Kernel* kernel = findKernel(kernelName.c_str());
    if (!kernel) GTEST_SKIP() << "this CPU cannot run " << kernelName;
    Pair p(program, *kernel);
    std::mt19937 rng(program);
    std::uniform_int_distribution<int> block(1, 700), param(0, kNumParams - 1), note(0, 127),
        byte(0, 127);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    p.both([](Synth& s) { s.noteOn(60); });
    for (int step = 0; step < 120; ++step) {
        switch (step % 8) {
        case 0: {  // a parameter change between blocks
            const int index = param(rng);
            const float v = value(rng);
            p.both([&](Synth& s) { s.fx.setParameter(index, v); });
            break;
        }
        case 1: {  // a new note somewhere inside the next block
            const int n = note(rng), delta = block(rng) / 2;
            p.both([&](Synth& s) { s.noteOn(n, delta); });
            break;
        }
        case 2: {  // a bend
            const int lsb = byte(rng), msb = byte(rng);
            p.both([&](Synth& s) {
                s.send(
                    {{0, 0xE0, static_cast<unsigned char>(lsb), static_cast<unsigned char>(msb)}});
            });
            break;
        }
        case 3: {  // the host changes the sample rate
            const float rate = step % 16 == 3 ? 48000.0f : 44100.0f;
            p.both([&](Synth& s) { s.fx.setSampleRate(rate); });
            break;
        }
        case 4:  // "Random" phases switched on and off again
            p.both([&](Synth& s) { s.fx.setParameter(kLfoPh, step % 16 == 4 ? 1.0f : 0.3f); });
            break;
        case 5:  // release and retrigger
            p.both([&](Synth& s) { s.noteOff(s.fx.core().getCurrentNote()); });
            break;
        default: break;
        }
        ASSERT_NO_FATAL_FAILURE(p.expectSameBlock(block(rng))) << "step " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(Factory, CachingInEveryProgram,
                         ::testing::Combine(::testing::Range(0, 49),
                                            ::testing::ValuesIn(builtKernelNames())),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param);
                         });

TEST(Caching, ReopeningRebuildsEverything) {
    Pair p(12);
    p.both([](Synth& s) { s.noteOn(40); });
    p.expectSameBlock(300);
    p.both([](Synth& s) {
        s.fx.open();
        s.noteOn(41);
    });
    p.expectSameBlock(300);
}

TEST(Caching, ShapingBackToZeroRestoresTheSine) {
    Synth s;
    s.set({{kOscShap, 0.5f}});
    s.noteOn(60);
    s.render(64);
    s.set({{kOscShap, 0.0f}});
    s.render(64);
    for (int i = 0; i <= 1024; ++i)
        ASSERT_EQ(s.fx.core().getShapedTable()[i], s.fx.core().getSineTable()[i]);
}

}  // namespace
