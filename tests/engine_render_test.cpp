// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the render loop: sample-exact event timing, identical outputs, process equal to
// processReplacing, independent instances, and safety against bad input on the audio thread.
#include "hostkit/recording_host.h"
#include "support/synth_harness.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

using hostkit::RecordingHost;

namespace {

float peak(const std::vector<float>& v) {
    float p = 0.0f;
    for (float x : v) p = std::max(p, std::fabs(x));
    return p;
}

TEST(RenderLoop, IdleBlocksAreSilentAndChangeNothing) {
    Synth s;
    const auto out = s.render(512);
    for (float v : out) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(s.fx.core().getEnvStage(), kIdleStage);
}

TEST(RenderLoop, NoteOnInsideAnIdleBlockStartsAtItsDelta) {
    Synth s;
    s.set({{kAttack, 0.0f}, {kDecay, 0.0f}, {kSustain, 1.0f}});
    s.send({{100, 0x90, 60, 100}});
    const auto out = s.render(512);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(out[i], 0.0f) << i;
    EXPECT_NE(out[100], 0.0f);  // attack 0: the first sample is at full level
    EXPECT_EQ(s.fx.core().getEnvStage(), kSustainStage);
}

TEST(RenderLoop, NoteOnInsideASoundingBlockRetriggersAtItsDelta) {
    Synth s;
    s.set({{kAttack, 0.5f}, {kSustain, 1.0f}});
    s.noteOn(60);
    s.render(1000);
    s.send({{100, 0x90, 60, 100}});
    EXPECT_EQ(s.fx.core().getQueuedEvents(), 1);
    s.render(100);
    EXPECT_EQ(s.fx.core().getQueuedEvents(), 1) << "carried: due at the start of the next block";
    s.render(1);
    EXPECT_EQ(s.fx.core().getQueuedEvents(), 0);
    EXPECT_EQ(s.fx.core().getEnvStage(), kAttackStage);
}

TEST(RenderLoop, EventsBeyondTheBlockCarryWhileSoundingAndWhileIdle) {
    Synth s;
    s.set({{kAttack, 0.0f}, {kDecay, 0.0f}, {kSustain, 1.0f}, {kRelease, 0.0f}});
    s.noteOn(60);
    s.render(64);
    s.send({{600, 0x80, 60, 0}});
    s.render(512);
    EXPECT_EQ(s.fx.core().getQueuedEvents(), 1);
    EXPECT_EQ(s.fx.core().getEnvStage(), kSustainStage);
    const auto out = s.render(128);
    EXPECT_NE(out[87], 0.0f);
    EXPECT_EQ(out[88], 0.0f);
    EXPECT_EQ(s.fx.core().getEnvStage(), kIdleStage);

    // Idle, a note-on announced beyond the block is counted down too, and sounds at its time:
    // 600 is offset 88 of the second 512-frame block. Left at 600 it would never come due.
    Synth idle;
    idle.set({{kAttack, 0.0f}, {kDecay, 0.0f}, {kSustain, 1.0f}});
    idle.send({{600, 0x90, 60, 100}});
    const auto first = idle.render(512);
    for (float v : first) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(idle.fx.core().getQueuedEvents(), 1);
    EXPECT_EQ(idle.fx.core().getEnvStage(), kIdleStage);
    const auto second = idle.render(512);
    for (int i = 0; i < 88; ++i) ASSERT_EQ(second[i], 0.0f) << i;
    EXPECT_NE(second[88], 0.0f);
    EXPECT_EQ(idle.fx.core().getQueuedEvents(), 0);

    // Several blocks ahead, and block by block the same as one long block.
    Synth late, whole;
    for (Synth* s : {&late, &whole}) {
        s->set({{kAttack, 0.0f}, {kDecay, 0.0f}, {kSustain, 1.0f}});
        s->send({{2000, 0x90, 60, 100}});
    }
    EXPECT_EQ(late.render(4096, 256), whole.render(4096));
}

TEST(RenderLoop, NoteCarriedToTheBlockBoundaryIsNotLostWhenTheVoiceFallsIdle) {
    Synth s;
    s.set({{kAttack, 0.0f}, {kDecay, 0.0f}, {kSustain, 1.0f}, {kRelease, 0.001f}});
    s.noteOn(60);
    s.render(64);
    s.noteOff(60);                   // releases at once, idle after 44 samples
    s.send({{256, 0x90, 62, 100}});  // due exactly at the start of the next block
    s.render(256);
    ASSERT_EQ(s.fx.core().getEnvStage(), kIdleStage);
    ASSERT_EQ(s.fx.core().getQueuedEvents(), 1);
    const auto out = s.render(256);
    EXPECT_NE(s.fx.core().getEnvStage(), kIdleStage);
    EXPECT_NE(out[1], 0.0f);
}

TEST(RenderLoop, InPhasePartialsReachTwoUnclipped) {
    Synth s;
    s.set({{kOscHarm, 0.0f},
           {kOscDamp, 0.0f},
           {kLfoAmnt, 0.0f},
           {kLfoPh, 0.5f},
           {kAttack, 0.0f},
           {kSustain, 1.0f},
           {kOscShap, 0.0f}});
    s.noteOn(69);
    const auto out = s.render(44100, 512);
    EXPECT_EQ(peak(out), 2.0f);
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), -2.0f);
}

// The first samples of the simplest voice, worked out from the table and the step alone:
// phases advance before they are read, reads truncate, and the sum rounds partial by partial.
TEST(RenderLoop, SimplestVoiceSampleBySample) {
    Synth s;
    s.set({{kOscHarm, 0.0f},
           {kOscDamp, 0.0f},
           {kLfoAmnt, 0.0f},
           {kLfoPh, 0.0f},
           {kAttack, 0.0f},
           {kSustain, 1.0f},
           {kOscShap, 0.0f}});
    s.noteOn(60);
    const auto out = s.render(300);
    const auto b = s.fx.core().blockValues();
    const float* table = s.fx.core().getSineTable();
    float phase = 0.0f;
    for (int n = 0; n < 300; ++n) {
        phase += b.oscStep[0];
        while (phase > 1024.0f) phase -= 1024.0f;
        const float w = table[static_cast<int>(phase)];
        float sum = 0.0f;
        for (int i = 0; i < 30; ++i) sum = static_cast<float>(double{sum} + double{w});
        const float expected = static_cast<float>(double{sum} * (1.0 * double{b.outputGain}));
        ASSERT_EQ(out[n], expected) << n;
    }
}

TEST(RenderLoop, BlockSizeDoesNotChangeTheOutputWhenNothingChangesBetweenBlocks) {
    // Parameters are read per block; with none changing, any split gives the same samples.
    Synth a, b;
    for (Synth* s : {&a, &b}) {
        s->fx.setProgram(2);
        s->set({{kLfoRand, 0.0f}});
        s->noteOn(57);
    }
    EXPECT_EQ(a.render(4096, 4096), b.render(4096, 37));
}

TEST(RenderLoop, ProcessOverwritesLikeProcessReplacing) {
    Synth a, b;
    a.fx.setProgram(3);
    b.fx.setProgram(3);
    a.noteOn(60);
    b.noteOn(60);
    std::vector<float> l1(512, 0.0f), r1(512, 0.0f), l2(512, 7.0f), r2(512, -7.0f);
    float* o1[2] = {l1.data(), r1.data()};
    float* o2[2] = {l2.data(), r2.data()};
    a.fx.processReplacing(nullptr, o1, 512);
    b.fx.process(nullptr, o2, 512);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
    EXPECT_EQ(l1, r1);
}

TEST(RenderLoop, InstancesAreIndependentAndReproducible) {
    Synth a, b, alone;
    for (Synth* s : {&a, &b, &alone}) {
        s->fx.setProgram(0);  // "Aquatic": random gates
        s->noteOn(48);
    }
    std::vector<float> fromA, fromAlone;
    for (int block = 0; block < 40; ++block) {
        const auto x = a.render(256);
        b.render(256);  // draws from its own generator in between
        const auto y = alone.render(256);
        fromA.insert(fromA.end(), x.begin(), x.end());
        fromAlone.insert(fromAlone.end(), y.begin(), y.end());
    }
    EXPECT_EQ(fromA, fromAlone);
}

std::vector<std::string> builtKernelNames() {
    std::vector<std::string> names;
    for (const Kernel* const* k = builtKernels(); *k; ++k) names.push_back((*k)->name);
    return names;
}

// With every kernel: a wide kernel reads its tables through gathers, where a phase driven out of
// range would read outside the table unseen by any sanitizer.
class BadValues : public ::testing::TestWithParam<std::tuple<float, std::string>> {
protected:
    float value() const { return std::get<0>(GetParam()); }
};

TEST_P(BadValues, AnyParameterValueRendersFiniteAndEnds) {
    const Kernel* kernel = findKernel(std::get<1>(GetParam()).c_str());
    if (!kernel) GTEST_SKIP() << "this CPU cannot run " << std::get<1>(GetParam());
    for (int32_t index = 0; index < kNumParams; ++index) {
        Synth s;
        s.fx.core().setKernel(*kernel);
        s.set({{kAttack, 0.01f}, {kRelease, 0.01f}});
        s.fx.setParameter(index, value());
        s.noteOn(127);
        s.send({{0, 0xE0, 0x7F, 0x7F}});
        auto out = s.render(2048, 512);
        s.noteOff(127);
        const auto tail = s.render(44100, 4096);
        out.insert(out.end(), tail.begin(), tail.end());
        for (float v : out) ASSERT_TRUE(std::isfinite(v)) << index;
        EXPECT_LE(peak(out), 2.0f) << index;
        const float stored = s.fx.getParameter(index);  // stored as sent
        EXPECT_TRUE(std::isnan(value()) ? std::isnan(stored) : stored == value()) << index;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, BadValues,
    ::testing::Combine(::testing::Values(std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(), 1e30f, -1e30f,
                                         -0.5f, 1.5f, 1.0f, 0.0f),
                       ::testing::ValuesIn(builtKernelNames())));

TEST(RenderSafety, UnusableSampleRatesGiveSilence) {
    for (float rate : {0.0f, -44100.0f, 500.0f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity(), 1e30f}) {
        Synth s(rate);
        s.noteOn(60);
        const auto out = s.render(1024, 256);
        for (float v : out) ASSERT_EQ(v, 0.0f) << rate;
        // A usable rate brings the voice back.
        s.fx.setSampleRate(48000.0f);
        EXPECT_GT(peak(s.render(4096)), 0.0f) << rate;
    }
}

// A block refused for its buffers or its length writes nothing, asks nothing of the host and
// leaves the voice where it was: the next good block sounds as if the bad ones never came.
TEST(RenderSafety, BadBuffersAndFrameCountsChangeNothing) {
    RecordingHost host;
    host.answers[audioMasterVersion] = 2400;
    Corvex fx(RecordingHost::callback());
    fx.setSampleRate(44100.0f);
    fx.open();
    Synth reference;  // the same note, and no bad blocks
    VstMidiEvent note{};
    note.type = kVstMidiType;
    note.byteSize = sizeof note;
    note.midiData[0] = static_cast<char>(0x90);
    note.midiData[1] = 60;
    note.midiData[2] = 100;
    VstEvents list{};
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<VstEvent*>(&note);
    fx.processEvents(&list);
    reference.noteOn(60);
    const std::size_t callsBefore = host.calls.size();
    const int32_t stageBefore = fx.core().getEnvStage();

    constexpr float kUntouched = 7.0f;
    float left[16], right[16];
    std::fill(std::begin(left), std::end(left), kUntouched);
    std::fill(std::begin(right), std::end(right), kUntouched);
    float* missing[2] = {left, nullptr};
    float* missingLeft[2] = {nullptr, right};
    float* both[2] = {left, right};
    fx.processReplacing(nullptr, nullptr, 16);
    fx.processReplacing(nullptr, missing, 16);
    fx.processReplacing(nullptr, missingLeft, 16);
    fx.processReplacing(nullptr, both, -5);
    fx.processReplacing(nullptr, both, 0);
    fx.processReplacing(nullptr, both, std::numeric_limits<int32_t>::min());
    fx.process(nullptr, nullptr, 16);
    fx.process(nullptr, both, 0);
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(left[i], kUntouched) << i;
        ASSERT_EQ(right[i], kUntouched) << i;
    }
    EXPECT_EQ(host.calls.size(), callsBefore);
    EXPECT_EQ(fx.core().getEnvStage(), stageBefore);

    std::vector<float> l(512), r(512);
    float* outputs[2] = {l.data(), r.data()};
    fx.processReplacing(nullptr, outputs, 512);
    const std::vector<float> expected = reference.render(512);
    EXPECT_EQ(std::memcmp(l.data(), expected.data(), l.size() * sizeof(float)), 0);
    EXPECT_GT(peak(l), 0.0f);
}

// Inputs may point anywhere (an instrument has none): the output is what it is without them.
TEST(RenderSafety, InputsAreNeverRead) {
    Synth s, reference;
    s.noteOn(60);
    reference.noteOn(60);
    float* poisoned[2] = {reinterpret_cast<float*>(16), reinterpret_cast<float*>(32)};
    float left[64], right[64];
    float* outputs[2] = {left, right};
    s.fx.processReplacing(poisoned, outputs, 64);
    const std::vector<float> expected = reference.render(64);
    EXPECT_EQ(std::memcmp(left, expected.data(), sizeof left), 0);
    EXPECT_EQ(std::memcmp(right, expected.data(), sizeof right), 0);
    EXPECT_GT(peak(expected), 0.0f);
}

}  // namespace
