// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the VST2 face against adding to or taking from the sound: every factory program played
// through the core directly and through the built corvex.so's record (program, note on, bend,
// note off at frame offsets, blocks of odd sizes) gives the same samples, bit for bit, and so do
// dense scores at every block size, also with events announced blocks ahead; and the face's
// answers about parameters and programs are the core's facts.
#include "core/params.h"
#include "core/synth.h"
#include "hostkit/plugin.h"
#include "hostkit/host_answers.h"
#include "support/record_calls.h"
#include "support/score.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kTotal = kRate;        // one second
constexpr int kRelease = kRate / 2;  // note off half-way
constexpr int kBlocks[] = {1, 63, 256, 1000};

using Message = ScoreMessage;
// The same score for both: a note, a bend, the release.
const std::vector<Message> kScore = {
    {0, 0x90, 60, 100}, {7000, 0xE0, 0x00, 0x50}, {kRelease + 17, 0x80, 60, 0}};

int blockAt(int n) { return kBlocks[n % 4]; }

std::vector<float> throughCore(int program) {
    CorvexSynth synth;
    synth.setSampleRate(static_cast<float>(kRate));
    synth.reset();
    synth.setProgram(program);
    std::vector<float> left(kTotal), right(kTotal);
    for (int pos = 0, n = 0; pos < kTotal; ++n) {
        const int len = std::min(blockAt(n), kTotal - pos);
        for (const Message& m : kScore)
            if (m.at >= pos && m.at < pos + len) {
                const uint8_t bytes[] = {m.status, m.data1, m.data2};
                synth.midi(bytes, sizeof bytes, static_cast<int32_t>(m.at - pos), len);
            }
        synth.render(left.data() + pos, right.data() + pos, len);
        pos += len;
    }
    EXPECT_EQ(std::memcmp(left.data(), right.data(), left.size() * sizeof(float)), 0);
    return left;
}

std::vector<float> throughFace(const hostkit::Library& plugin, int program) {
    return playProgramScore(plugin, program, static_cast<float>(kRate), 0, kScore, kTotal, blockAt);
}

}  // namespace

TEST(CoreAndFace, EveryProgramSoundsTheSameThroughTheCoreAndThroughTheVst2Face) {
    hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    ASSERT_NE(plugin.entry(), nullptr);
    for (int program = 0; program < kNumPrograms; ++program) {
        SCOPED_TRACE(program);
        const std::vector<float> core = throughCore(program);
        const std::vector<float> face = throughFace(plugin, program);
        ASSERT_EQ(face.size(), core.size());
        ASSERT_EQ(std::memcmp(core.data(), face.data(), core.size() * sizeof(float)), 0);
        float peak = 0.0f;
        for (float v : core) peak = std::max(peak, std::abs(v));
        EXPECT_GT(peak, 0.0f) << "a silent program compares nothing";
    }
}

TEST(CoreAndFace, TheFaceAnswersWithTheCoresFacts) {
    hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    AEffect* e = plugin.entry()(&hostkit::versionOnlyHost);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->numParams, kNumParams);
    EXPECT_EQ(e->numPrograms, kNumPrograms);
    for (int32_t i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(dispatchText(e, effGetParamName, i), kParamInfo[i].name);
        EXPECT_EQ(e->getParameter(e, i), defaultValue(i)) << "a new instance plays program 0";
        char expected[16];
        formatParameter(i, defaultValue(i), expected, 9);
        EXPECT_EQ(dispatchText(e, effGetParamDisplay, i), expected);
    }
    for (int32_t p = 0; p < kNumPrograms; ++p) {
        const FactoryProgram f = factoryProgram(p);
        const std::string listed = dispatchText(e, effGetProgramNameIndexed, p);
        EXPECT_EQ(listed, f.name);
        dispatch(e, effSetProgram, 0, p);
        for (int32_t i = 0; i < kNumParams; ++i) ASSERT_EQ(e->getParameter(e, i), f.values[i]);
    }
    dispatch(e, effClose);
}

namespace {

constexpr int kDenseTotal = 12000;

std::vector<float> denseThroughCore(int program, const std::vector<Message>& score) {
    CorvexSynth synth;
    synth.setSampleRate(static_cast<float>(kRate));
    synth.reset();
    synth.setProgram(program);
    return testsupport::renderScore(synth, score, kDenseTotal, [](int) { return 1; });
}

std::vector<float> denseThroughFace(const hostkit::Library& plugin, int program,
                                    const std::vector<Message>& score, int block, int ahead) {
    return playProgramScore(
        plugin, program, static_cast<float>(kRate), block, score, kDenseTotal,
        [block](int) { return block; }, ahead);
}

}  // namespace

TEST(CoreAndFace, DenseScoresSoundAsTheCoreAtEveryBlockSize) {
    hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    ASSERT_NE(plugin.entry(), nullptr);
    for (int program : {0, 3, 12, 21, 30, 41, 47, 63}) {
        const auto score =
            testsupport::randomScore(500 + static_cast<uint32_t>(program), kDenseTotal);
        const std::vector<float> core = denseThroughCore(program, score);
        for (int block : {1, 7, 64, 1000, 4096}) {
            SCOPED_TRACE("program " + std::to_string(program) + ", block " + std::to_string(block));
            const std::vector<float> face = denseThroughFace(plugin, program, score, block, 0);
            ASSERT_EQ(face.size(), core.size());
            ASSERT_EQ(std::memcmp(core.data(), face.data(), core.size() * sizeof(float)), 0);
        }
    }
}

// VST2 hosts may announce an event before the block it falls in; it waits for its frame.
TEST(CoreAndFace, EventsAnnouncedBlocksAheadPlayAtTheirFrames) {
    hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    ASSERT_NE(plugin.entry(), nullptr);
    const auto score = testsupport::randomScore(9, kDenseTotal);
    const std::vector<float> core = denseThroughCore(5, score);
    for (auto [block, ahead] : {std::pair{64, 64}, {64, 300}, {1000, 999}, {7, 5000}}) {
        SCOPED_TRACE("block " + std::to_string(block) + ", ahead " + std::to_string(ahead));
        const std::vector<float> face = denseThroughFace(plugin, 5, score, block, ahead);
        ASSERT_EQ(face.size(), core.size());
        ASSERT_EQ(std::memcmp(core.data(), face.data(), core.size() * sizeof(float)), 0);
    }
}
