// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the envelope: each stage and transition, zero times, retriggering from the level
// reached, and releases that scale from the right level.
#include "support/synth_harness.h"

#include <cmath>

namespace {

// Makes synth a voice whose output is easy to reason about; times in seconds.
void adsr(Synth& synth, float a, float d, float s, float r) {
    synth.set({{kAttack, a}, {kDecay, d}, {kSustain, s}, {kRelease, r}, {kLfoAmnt, 0.0f}});
}

// Renders one sample at a time and records the envelope level after each.
std::vector<float> levels(Synth& s, int n) {
    std::vector<float> out;
    for (int i = 0; i < n; ++i) {
        s.render(1);
        out.push_back(s.fx.core().getEnvLevel());
    }
    return out;
}

TEST(Envelope, AttackRampsLinearlyToThePeakWhichHoldsTwoSamples) {
    Synth s;
    adsr(s, 0.001f, 0.5f, 0.5f, 0.1f);  // 44.1 samples of attack
    s.noteOn(60);
    const auto env = levels(s, 50);
    EXPECT_EQ(env[0], 0.0f);
    const float recip = static_cast<float>(1.0 / 44100.0);
    const float invA = static_cast<float>(1.0 / double{0.001f});
    for (int i = 1; i < 44; ++i) {
        const float t = static_cast<float>(i * double{recip});
        ASSERT_EQ(env[i], static_cast<float>(double{t} * invA)) << i;
    }
    // Last attack sample outputs 1.0, and the first decay sample holds it.
    const auto peak = std::find(env.begin(), env.end(), 1.0f) - env.begin();
    ASSERT_LT(peak, 48);
    EXPECT_EQ(env[peak + 1], 1.0f);
    EXPECT_LT(env[peak + 2], 1.0f);
    EXPECT_EQ(s.fx.core().getEnvStage(), kDecayStage);
}

TEST(Envelope, ZeroTimes) {
    Synth s;
    adsr(s, 0.0f, 0.0f, 0.4f, 0.0f);
    s.noteOn(60);
    auto env = levels(s, 3);
    EXPECT_EQ(env[0], 1.0f);  // the note-on sample is already at the peak
    EXPECT_EQ(env[1], 0.4f);  // decay 0 jumps to sustain
    EXPECT_EQ(env[2], 0.4f);
    EXPECT_EQ(s.fx.core().getEnvStage(), kSustainStage);
    s.noteOff(60);
    env = levels(s, 1);
    EXPECT_EQ(env[0], 0.0f);  // release 0: the first release sample is silent
    EXPECT_EQ(s.fx.core().getEnvStage(), kIdleStage);
}

TEST(Envelope, SustainOneHoldsThePeakThroughTheDecay) {
    Synth s;
    adsr(s, 0.0f, 0.01f, 1.0f, 0.1f);
    s.noteOn(60);
    for (float v : levels(s, 600)) ASSERT_EQ(v, 1.0f);
    EXPECT_EQ(s.fx.core().getEnvStage(), kSustainStage);
}

TEST(Envelope, SustainChangesAreHeardAtOnce) {
    Synth s;
    adsr(s, 0.0f, 0.0f, 0.6f, 0.1f);
    s.noteOn(60);
    levels(s, 4);
    s.fx.setParameter(kSustain, 0.2f);
    EXPECT_EQ(levels(s, 1)[0], 0.2f);
}

TEST(Envelope, NoteOffDuringAttackReleasesFromTheLevelReached) {
    Synth s;
    adsr(s, 0.1f, 0.1f, 0.5f, 0.01f);
    s.noteOn(60);
    const float reached = levels(s, 1000).back();
    ASSERT_GT(reached, 0.1f);
    ASSERT_LT(reached, 0.5f);
    s.noteOff(60);
    const auto env = levels(s, 3);
    EXPECT_EQ(env[0], reached);  // t = 0 of the release
    EXPECT_LT(env[1], reached);
    const float recip = static_cast<float>(1.0 / 44100.0);
    const float invR = static_cast<float>(1.0 / double{0.01f});
    EXPECT_EQ(env[1], static_cast<float>((1.0 - double{recip} * invR) * reached));
}

TEST(Envelope, SecondNoteOffRestartsTheReleaseFromTheSameLevel) {
    Synth s;
    adsr(s, 0.0f, 0.0f, 0.8f, 0.05f);
    s.noteOn(60);
    levels(s, 10);
    s.noteOff(60);
    const auto first = levels(s, 500);
    ASSERT_LT(first.back(), 0.8f);
    s.noteOff(60);
    const auto second = levels(s, 1);
    EXPECT_EQ(second[0], 0.8f);
}

TEST(Envelope, ReleaseEndsIdleAndIdleBlocksAreSilentAndFree) {
    Synth s;
    adsr(s, 0.0f, 0.0f, 0.8f, 0.01f);
    s.noteOn(60);
    s.render(100);
    s.noteOff(60);
    s.render(441 + 2);
    EXPECT_EQ(s.fx.core().getEnvStage(), kIdleStage);
    const auto out = s.render(256);
    for (float v : out) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(s.fx.core().getEnvLevel(), 0.0f);
}

TEST(Retrigger, ContinuesFromTheLevelReached) {
    Synth s;
    adsr(s, 0.1f, 0.0f, 0.5f, 0.1f);
    s.noteOn(60);
    s.render(5000);  // into the sustain at 0.5
    ASSERT_EQ(s.fx.core().getEnvStage(), kSustainStage);
    s.noteOn(62);
    const auto env = levels(s, 2);
    EXPECT_EQ(s.fx.core().getEnvStage(), kAttackStage);
    // 44100 x (0.5 x 0.1, rounded to a float), truncated; two samples on.
    EXPECT_EQ(s.fx.core().getEnvCounter(), static_cast<int32_t>(44100.0 * double{0.5f * 0.1f}) + 2);
    EXPECT_NEAR(env[0], 0.5f, 1e-4);
    EXPECT_GT(env[1], env[0]);
}

TEST(Retrigger, BelowOneSampleOfLevelRestartsFromCounterZero) {
    Synth s;
    adsr(s, 0.001f, 0.0f, 0.00001f, 0.1f);
    s.set({{kLfoAmnt, 1.0f}, {kLfoFreq, 1.0f}, {kLfoPh, 0.3f}});
    s.noteOn(60);
    s.render(200);
    ASSERT_EQ(s.fx.core().getEnvStage(), kSustainStage);
    s.noteOn(60);
    s.render(1);
    EXPECT_EQ(s.fx.core().getEnvStage(), kAttackStage);
    EXPECT_EQ(s.fx.core().getEnvCounter(), 1);  // from 0: 44100 x 0.00001 x 0.001 < 1
}

// A time between 0 and about 2.9e-39 passes the clamp but has an infinite reciprocal; at the
// first sample of its segment t is 0 and the level must be the segment's start, not 0 x inf.
TEST(Envelope, SubnormalTimesStartTheirSegmentsCleanly) {
    for (float tiny : {1e-45f, 1e-40f, 2.9e-39f}) {
        Synth attack;
        adsr(attack, tiny, 0.001f, 0.5f, 0.1f);
        attack.noteOn(60);
        const auto a = levels(attack, 3);
        EXPECT_EQ(a[0], 0.0f) << tiny;  // t = 0 is below A: the ramp's start
        EXPECT_EQ(a[1], 1.0f) << tiny;
        Synth decay;
        adsr(decay, 0.0f, tiny, 0.5f, 0.1f);
        decay.noteOn(60);
        const auto d = levels(decay, 3);
        EXPECT_EQ(d[0], 1.0f) << tiny;
        EXPECT_EQ(d[1], 1.0f) << tiny;  // the decay's first sample holds 1.0
        EXPECT_EQ(d[2], 0.5f) << tiny;
        Synth release;
        adsr(release, 0.0f, 0.0f, 0.5f, tiny);
        release.noteOn(60);
        levels(release, 4);
        release.noteOff(60);
        const auto r = levels(release, 2);
        EXPECT_EQ(r[0], 0.5f) << tiny;  // the release's first sample keeps the level it began at
        EXPECT_EQ(r[1], 0.0f) << tiny;
        for (Synth* s : {&attack, &decay, &release})
            for (float v : s->render(2048, 512)) ASSERT_TRUE(std::isfinite(v)) << tiny;
    }
}

}  // namespace
