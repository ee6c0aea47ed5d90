// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the render kernels: every kernel this CPU runs must give the recorded sound of every
// factory program bit for bit, and the same bits as the portable kernel through whatever falls
// inside its chunks (notes and releases mid-chunk, idle stretches, blocks of any size).
#include "core/kernel.h"
#include "core/synth.h"

#include "support/core_midi.h"
#include "support/golden_renders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 512;
constexpr int kHeld = kRate / 2;
constexpr int kTotal = kHeld + kRate * 12 / 10;

std::vector<std::string> builtKernelNames() {
    std::vector<std::string> names;
    for (const Kernel* const* k = builtKernels(); *k; ++k) names.push_back((*k)->name);
    return names;
}

class Kernels : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        for (const Kernel* const* k = builtKernels(); *k; ++k)
            if (GetParam() == (*k)->name) kernel = *k;
        ASSERT_NE(kernel, nullptr);
        if (!kernelRuns(*kernel)) GTEST_SKIP() << "this CPU cannot run " << GetParam();
    }
    const Kernel* kernel = nullptr;
};

// The render the reference was recorded from (plugin_render_test.cpp), on the core alone.
std::vector<float> renderProgram(const Kernel& kernel, int program) {
    CorvexSynth synth;
    synth.setKernel(kernel);
    synth.setSampleRate(static_cast<float>(kRate));
    synth.reset();
    synth.setProgram(program);
    std::vector<float> left(kTotal), right(kTotal);
    for (int pos = 0; pos < kTotal; pos += kBlock) {
        const int len = std::min(kBlock, kTotal - pos);
        if (pos == 0) sendMidi(synth, 0x90, 60, 100, 0);
        if (pos <= kHeld && kHeld < pos + len) sendMidi(synth, 0x80, 60, 0, kHeld - pos);
        synth.render(left.data() + pos, right.data() + pos, len);
    }
    EXPECT_EQ(left, right);
    return left;
}

TEST_P(Kernels, EveryFactoryProgramMatchesTheRecordedReference) {
    const auto golden = testsupport::readGoldenRenders();
    ASSERT_EQ(golden.size(), 64u);
    for (int program = 0; program < 64; ++program)
        EXPECT_EQ(testsupport::fingerprint(renderProgram(*kernel, program)), golden.at(program))
            << "program " << program;
}

// A script whose events fall at odd offsets, so that with every chunk size notes start, restart
// and end inside chunks and idle samples sit next to sounding ones in the same chunk. The
// engine keeps one pending event, so no two events share a block of up to 4096 frames.
std::vector<float> renderScript(const Kernel& kernel, int program, int block) {
    CorvexSynth synth;
    synth.setKernel(kernel);
    synth.setSampleRate(48000.0f);
    synth.reset();
    synth.setProgram(program);
    synth.setParameter(kAttack, 0.002f);
    synth.setParameter(kRelease, 0.001f);
    struct Event {
        int frame;
        uint8_t status, data1, data2;
    };
    constexpr int k = 4096;
    const Event events[] = {{3, 0x90, 60, 100},
                            {k + 777, 0x90, 67, 90},
                            {2 * k + 1500, 0xE0, 0, 80},
                            {3 * k + 2001, 0x80, 67, 0},
                            {4 * k + 100, 0x90, 48, 1},
                            {5 * k + 5, 0x80, 48, 0},
                            {6 * k + 2400, 0x90, 100, 99},
                            {7 * k + 4003, 0xB0, 123, 0},
                            {8 * k + 33, 0x90, 30, 80}};
    constexpr int kLength = 9 * k + 2000;
    std::vector<float> left(kLength), right(kLength);
    for (int pos = 0; pos < kLength; pos += block) {
        const int len = std::min(block, kLength - pos);
        for (const Event& e : events)
            if (e.frame >= pos && e.frame < pos + len)
                sendMidi(synth, e.status, e.data1, e.data2, e.frame - pos);
        synth.render(left.data() + pos, right.data() + pos, len);
    }
    return left;
}

TEST_P(Kernels, SameBitsAsThePortableKernelAcrossChunksAndBlocks) {
    const Kernel* portable = findKernel("portable");
    ASSERT_NE(portable, nullptr);
    if (kernel == portable) GTEST_SKIP() << "the reference itself";
    // 0: random gates and plain sine; 5: random phase offsets; 12: strong shaping, sharp LFO;
    // 40 and 63 for the fast LFOs whose cycles end every few samples.
    for (int program : {0, 5, 12, 40, 63})
        for (int block : {1, 7, 64, 100, 4096})
            ASSERT_EQ(renderScript(*kernel, program, block),
                      renderScript(*portable, program, block))
                << "program " << program << ", block " << block;
}

// With nothing sent after the first note, block size changes nothing: a kernel's one-frame path
// and its full chunks agree (the portable kernel's included, which the test above takes as the
// reference).
TEST_P(Kernels, OneFrameBlocksGiveWhatFullChunksGive) {
    for (int program : {0, 12, 40}) {
        std::vector<float> out[2];
        for (int pass = 0; pass < 2; ++pass) {
            const int block = pass == 0 ? 1 : 4096;
            CorvexSynth synth;
            synth.setKernel(*kernel);
            synth.setSampleRate(44100.0f);
            synth.reset();
            synth.setProgram(program);
            sendMidi(synth, 0x90, 57, 100, 0);
            out[pass].resize(8192);
            std::vector<float> right(8192);
            for (int pos = 0; pos < 8192; pos += block)
                synth.render(out[pass].data() + pos, right.data() + pos, block);
        }
        ASSERT_EQ(out[0], out[1]) << "program " << program;
    }
}

INSTANTIATE_TEST_SUITE_P(Built, Kernels, ::testing::ValuesIn(builtKernelNames()),
                         [](const auto& info) { return info.param; });

// The kernel every synth starts with runs here, and no name picks one that does not.
TEST(KernelChoice, TheActiveKernelRunsAndUnknownNamesFindNothing) {
    EXPECT_TRUE(kernelRuns(activeKernel()));
    EXPECT_EQ(CorvexSynth().getKernel().name, std::string(activeKernel().name));
    for (const char* bad : {"", "AVX2", "sse", "portable ", "avx512x"})
        EXPECT_EQ(findKernel(bad), nullptr) << bad;
    EXPECT_EQ(findKernel(nullptr), nullptr);
    for (const Kernel* const* k = builtKernels(); *k; ++k) {
        EXPECT_GE((*k)->chunk, 1);
        EXPECT_LE((*k)->chunk, kMaxChunk);
        EXPECT_EQ(findKernel((*k)->name), kernelRuns(**k) ? *k : nullptr);
    }
}

}  // namespace
