// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the fixed and derived tables and the per-block partial bank against the numbers the
// design fixes.
#include "support/synth_harness.h"

#include <cmath>

namespace {

TEST(FixedTables, SineAndUnipolarCycles) {
    Synth s;
    const float* sine = s.fx.core().getSineTable();
    const float* uni = s.fx.core().getUnipolarTable();
    EXPECT_EQ(sine[0], -1.0f);
    EXPECT_EQ(sine[256], 0.0f);
    EXPECT_EQ(sine[512], 1.0f);
    EXPECT_EQ(sine[1024], sine[0]);
    EXPECT_EQ(uni[0], 0.0f);
    EXPECT_EQ(uni[512], 1.0f);
    EXPECT_EQ(uni[1024], uni[0]);
    for (int i = 0; i <= 1024; ++i) {
        ASSERT_EQ(uni[i], static_cast<float>(double{sine[i]} * 0.5 + 0.5)) << i;
        ASSERT_LE(std::fabs(sine[i]), 1.0f);
    }
    // Symmetric about the peak.
    for (int i = 1; i < 512; ++i) ASSERT_NEAR(sine[512 - i], sine[512 + i], 1e-6f) << i;
}

TEST(ShapedTable, ZeroIsThePlainSine) {
    Synth s;
    s.set({{kOscShap, 0.0f}});
    s.fx.core().initShapedTable();
    for (int i = 0; i <= 1024; ++i)
        ASSERT_EQ(s.fx.core().getShapedTable()[i], s.fx.core().getSineTable()[i]);
}

TEST(ShapedTable, FullShapingNarrowsToAPulse) {
    Synth s;
    s.set({{kOscShap, 1.0f}});
    s.fx.core().initShapedTable();
    const float* w = s.fx.core().getShapedTable();
    EXPECT_EQ(w[0], -1.0f);
    EXPECT_EQ(w[256], -0.9999981f);
    EXPECT_EQ(w[512], 1.0f);
    EXPECT_EQ(w[1024], w[0]);
}

TEST(ShapedTable, SmallShapingTakesThePowerPath) {
    Synth s;
    s.set({{kOscShap, 1e-6f}});
    s.fx.core().initShapedTable();
    int differing = 0;
    for (int i = 0; i <= 1024; ++i) {
        ASSERT_NEAR(s.fx.core().getShapedTable()[i], s.fx.core().getSineTable()[i], 1e-4f);
        differing += s.fx.core().getShapedTable()[i] != s.fx.core().getSineTable()[i];
    }
    EXPECT_GT(differing, 0);
}

TEST(PartialBank, HarmonicityAndDamping) {
    Synth s;
    s.set({{kOscHarm, 0.0f}, {kOscDamp, 0.0f}});
    s.noteOn(69);
    s.render(1);
    auto b = s.fx.core().blockValues();
    for (int i = 0; i < kNumPartials; ++i) {
        EXPECT_EQ(b.oscStep[i], b.oscStep[0]);
        EXPECT_EQ(b.amplitude[i], 1.0f);
    }
    s.set({{kOscHarm, 0.5f}, {kOscDamp, 1.0f}});
    b = s.fx.core().blockValues();
    EXPECT_EQ(b.damping, 0.5011872f);
    EXPECT_NEAR(b.amplitude[29], 2.0e-9f, 0.1e-9f);
    for (int i = 0; i < kNumPartials; ++i)
        EXPECT_EQ(b.oscStep[i], static_cast<float>(double(i + 1) * b.oscStep[0])) << i;
}

TEST(PartialBank, TopNoteTopPartialStepAndWrapStaysInTable) {
    Synth s;
    s.set({{kOscHarm, 1.0f}, {kAttack, 0.0f}, {kSustain, 1.0f}});
    s.noteOn(127);
    s.render(1);
    const auto b = s.fx.core().blockValues();
    EXPECT_NEAR(b.oscStep[29], 262142.0f, 1.0f);
    const auto out = s.render(2048, 256);
    for (float v : out) ASSERT_TRUE(std::isfinite(v));
}

TEST(PartialBank, OutputGainFollowsThePhaseSpread) {
    Synth s;
    s.set({{kLfoPh, 0.0f}});
    EXPECT_EQ(s.fx.core().blockValues().outputGain, static_cast<float>(1.0 / 30.0));
    s.set({{kLfoPh, 1.0f}});
    EXPECT_EQ(s.fx.core().blockValues().outputGain, static_cast<float>(1.0 / 30.0));
    s.set({{kLfoPh, 0.5f}});
    EXPECT_EQ(s.fx.core().blockValues().outputGain, static_cast<float>(2.0 / 30.0));
}

TEST(Powint, IntegerPowers) {
    EXPECT_EQ(CorvexSynth::powint(0.5f, 0), 1.0f);
    EXPECT_EQ(CorvexSynth::powint(0.5f, -3), 1.0f);
    EXPECT_EQ(CorvexSynth::powint(0.5f, 1), 0.5f);
    EXPECT_EQ(CorvexSynth::powint(0.5f, 5), 0.03125f);
    EXPECT_EQ(CorvexSynth::powint(3.0f, 13), 1594323.0f);
    // Square-and-multiply with a float rounding after every product: 50 = x^2 * x^16 * x^32.
    const float x2 = 0.9f * 0.9f, x4 = x2 * x2, x8 = x4 * x4, x16 = x8 * x8, x32 = x16 * x16;
    EXPECT_EQ(CorvexSynth::powint(0.9f, 50), (x2 * x16) * x32);
}

// The gain table after one sounding block with the given LFO shape.
std::vector<float> lfoTableFor(float centre, float sharpness, float depth) {
    Synth s;
    s.set({{kLfoCent, centre}, {kLfoShrp, sharpness}, {kLfoAmnt, depth}});
    s.noteOn(60);
    s.render(1);
    return std::vector<float>(s.fx.core().getLfoTable(), s.fx.core().getLfoTable() + 1025);
}

TEST(LfoTable, CentreHalfSharpnessZeroIsThePlainRaisedCosine) {
    Synth ref;
    const float* uni = ref.fx.core().getUnipolarTable();
    const float a = 0.8f;
    const auto table = lfoTableFor(0.5f, 0.0f, a);
    for (int j = 0; j < 1024; ++j) {
        const float u = j < 512 ? uni[j] : uni[1024 - j];
        ASSERT_EQ(table[j], static_cast<float>((double{u} * a + 1.0) - a)) << j;
    }
    EXPECT_EQ(table[1024], table[0]);
    EXPECT_EQ(table[512], 1.0f);
}

TEST(LfoTable, CentreEndsAndDepthZero) {
    auto t = lfoTableFor(0.0f, 0.0f, 1.0f);  // starts at its peak
    EXPECT_EQ(t[0], 1.0f);
    EXPECT_LT(t[1023], 0.001f);
    t = lfoTableFor(1.0f, 0.0f, 1.0f);  // rises through the whole cycle
    EXPECT_EQ(t[0], 0.0f);
    EXPECT_GT(t[1023], 0.99f);
    t = lfoTableFor(0.3f, 0.7f, 0.0f);
    for (float v : t) ASSERT_EQ(v, 1.0f);
}

TEST(LfoTable, SharpnessNarrowsThePeak) {
    const auto soft = lfoTableFor(0.5f, 0.0f, 1.0f);
    const auto sharp = lfoTableFor(0.5f, 1.0f, 1.0f);  // sharpness 50
    EXPECT_EQ(sharp[512], 1.0f);
    for (int j : {100, 300, 450, 600, 900}) EXPECT_LT(sharp[j], soft[j]) << j;
    EXPECT_NEAR(sharp[300] / CorvexSynth::powint(soft[300], 50), 1.0f, 1e-5f);
}

TEST(PhaseOffsets, SpreadAndRandom) {
    Synth s;
    s.set({{kLfoPh, 0.5f}, {kLfoRand, 0.0f}});
    s.noteOn(60);
    s.render(1);
    for (int i = 0; i < kNumPartials; ++i)
        EXPECT_EQ(s.fx.core().getLfoPhaseOffsets()[i], i % 2 ? 512.0f : 0.0f);
    s.set({{kLfoPh, 0.25f}});
    s.render(1);
    for (int i = 0; i < kNumPartials; ++i)
        EXPECT_EQ(s.fx.core().getLfoPhaseOffsets()[i], float((i % 4) * 256)) << i;

    // Random offsets are drawn at the first block after "Random" is chosen, then kept.
    s.set({{kLfoPh, 1.0f}});
    s.render(1);
    const std::vector<float> drawn(s.fx.core().getLfoPhaseOffsets(),
                                   s.fx.core().getLfoPhaseOffsets() + 30);
    for (float v : drawn) {
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 1024.0f);
    }
    EXPECT_NE(drawn[0], drawn[1]);
    s.render(64);
    EXPECT_TRUE(std::equal(drawn.begin(), drawn.end(), s.fx.core().getLfoPhaseOffsets()));
    // The classic generator seeded with 1: its first value is 41.
    EXPECT_EQ(drawn[0], static_cast<float>(41 * 1024.0 / 32767.0));
}

}  // namespace
