// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the standalone's period, shared by its audio backends: a controller bound by MIDI learn
// moves its parameter from its own frame and reaches the synth as nothing else, learning binds the
// next controller (never 123 or 126) and one controller moves one parameter, program changes go
// to the main thread, keyboard notes play at the period's start, and a new rate keeps the voice.
#include "core/synth.h"
#include "standalone/midi_learn.h"
#include "standalone/period.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using corvex_standalone::MidiLearn;
using corvex_standalone::MidiMessage;
using corvex_standalone::ParameterListener;
using corvex_standalone::PeriodProcessor;

namespace {

constexpr int32_t kPeriod = 256;
constexpr uint32_t kRate = 48000;

struct Period : ParameterListener {
    Period() {
        synth.setSampleRate(static_cast<float>(kRate));
        synth.reset();
        period.setListener(this);
    }
    void parameterMoved(int32_t index, float value) override { moved.push_back({index, value}); }
    // One period with the given three-byte messages at their frames.
    std::vector<float> play(std::initializer_list<std::pair<int32_t, MidiMessage>> messages) {
        period.begin(kPeriod, kRate);
        for (const auto& [frame, m] : messages) {
            const uint8_t bytes[] = {m.status, m.data1, m.data2};
            period.midi(bytes, m.status >= 0xC0 && m.status < 0xE0 ? 2 : 3, frame);
        }
        std::vector<float> left(kPeriod), right(kPeriod);
        period.render(left.data(), right.data());
        EXPECT_EQ(left, right);
        return left;
    }
    CorvexSynth synth;
    MidiLearn learn;
    PeriodProcessor period{synth, learn};
    std::vector<std::pair<int32_t, float>> moved;
};

TEST(StandalonePeriod, ABoundControllerMovesItsParameterFromItsFrame) {
    Period p, reference;
    ASSERT_TRUE(p.learn.bind(74, kLfoAmnt));
    p.play({{0, {0x90, 60, 100}}});
    reference.play({{0, {0x90, 60, 100}}});
    const auto out = p.play({{100, {0xB3, 74, 127}}});
    // The reference: the same synth rendered in two pieces with the value set between them.
    reference.period.begin(kPeriod, kRate);
    std::vector<float> left(kPeriod), right(kPeriod);
    reference.synth.render(left.data(), right.data(), 100);
    reference.synth.setParameter(kLfoAmnt, 1.0f);
    reference.synth.render(left.data() + 100, right.data() + 100, kPeriod - 100);
    EXPECT_EQ(out, left);
    EXPECT_EQ(p.synth.getParameter(kLfoAmnt), 1.0f);
    ASSERT_EQ(p.moved.size(), 1u);
    EXPECT_EQ(p.moved[0], (std::pair<int32_t, float>{kLfoAmnt, 1.0f}));
    EXPECT_EQ(p.synth.getQueuedEvents(), 0) << "the synth never saw the controller";
}

TEST(StandalonePeriod, LearningBindsTheNextControllerButNeverTheReleaseOnes) {
    Period p;
    p.learn.arm(kDecay);
    p.play({{0, {0x90, 60, 100}}, {3, {0xB0, 123, 0}}});
    EXPECT_EQ(p.learn.armedParameter(), kDecay) << "123 releases, as it always does";
    EXPECT_EQ(p.synth.getEnvStage(), kReleaseStage);
    p.play({{5, {0xB9, 126, 0}}});
    EXPECT_EQ(p.learn.armedParameter(), kDecay);
    p.play({{7, {0xB9, 20, 64}}});
    EXPECT_EQ(p.learn.armedParameter(), -1);
    EXPECT_EQ(p.learn.controllerOf(kDecay), 20);
    EXPECT_EQ(p.synth.getParameter(kDecay), 64.0f / 127.0f) << "the learning move counts";

    // The same controller bound elsewhere lets go of Decay; Decay bound to another controller
    // lets go of the first.
    ASSERT_TRUE(p.learn.bind(20, kAttack));
    EXPECT_EQ(p.learn.controllerOf(kDecay), -1);
    ASSERT_TRUE(p.learn.bind(21, kAttack));
    EXPECT_EQ(p.learn.parameterOf(20), -1);
    EXPECT_FALSE(p.learn.bind(123, kAttack));
    EXPECT_FALSE(p.learn.bind(128, kAttack));
    EXPECT_FALSE(p.learn.bind(5, kNumParams));
    p.learn.forget(kAttack);
    EXPECT_EQ(p.learn.controllerOf(kAttack), -1);
}

TEST(StandalonePeriod, ProgramChangesGoToTheMainThreadAndKeyboardNotesPlayAtTheStart) {
    Period p;
    int32_t program = -1;
    EXPECT_FALSE(p.period.takeProgramChange(program));
    p.play({{10, {0xC2, 7, 0}}, {20, {0xC0, 9, 0}}});
    ASSERT_TRUE(p.period.takeProgramChange(program));
    EXPECT_EQ(program, 9) << "only the latest counts";
    EXPECT_EQ(p.period.midiEvents(), 2u);

    ASSERT_TRUE(p.period.sendNote({0x90, 64, 100}));
    const auto out = p.play({});
    EXPECT_EQ(p.synth.getCurrentNote(), 64);
    EXPECT_NE(out[1], 0.0f);
}

TEST(StandalonePeriod, ANewRateKeepsTheVoiceSounding) {
    Period p;
    p.play({{0, {0x90, 60, 100}}});
    const int32_t stage = p.synth.getEnvStage();
    p.period.begin(kPeriod, 44100);
    std::vector<float> left(kPeriod), right(kPeriod);
    p.period.render(left.data(), right.data());
    EXPECT_EQ(p.synth.getSampleRate(), 44100.0f);
    EXPECT_EQ(p.synth.getEnvStage(), stage);
    EXPECT_NE(left[0], 0.0f) << "no restart from silence";
}

}  // namespace
