// SPDX-License-Identifier: GPL-3.0-or-later
// Guards parameters and programs: the index/declared-order mapping, edits that stay in their
// program, the factory bank bit for bit, names and the text scanner.
#include "vst2/corvex.h"
#include "hostkit/recording_host.h"

#include <gtest/gtest.h>

#include <cstring>

using hostkit::RecordingHost;

namespace {

TEST(FactoryBank, EveryProgramLoadsExactlyAsTabled) {
    Corvex fx(nullptr);
    for (int32_t prog = 0; prog < kNumPrograms; ++prog) {
        fx.setProgram(prog);
        for (int32_t i = 0; i < kNumParams; ++i)
            ASSERT_EQ(fx.getParameter(i), presets[prog * kNumParams + i]) << prog << "/" << i;
    }
}

TEST(FactoryBank, SpotValuesAndNames) {
    // Values the table gives with many digits must survive as the same floats.
    EXPECT_EQ(presets[5 * 14 + 3], 0.18901029f);
    EXPECT_EQ(presets[7 * 14 + 8], 0.006678121f);
    EXPECT_EQ(presets[12 * 14 + 13], 0.9269725f);
    EXPECT_EQ(presets[48 * 14 + 0], 0.4f);
    EXPECT_EQ(presets[63 * 14 + 10], 0.98f);
    EXPECT_STREQ(prognames[0], "Aquatic");
    EXPECT_STREQ(prognames[37], " Bass-1");
    EXPECT_STREQ(prognames[40], " Bass-4");
    EXPECT_STREQ(prognames[47], "Organ-like");
    for (int i = 48; i < 64; ++i) EXPECT_STREQ(prognames[i], "default");
}

TEST(Program, InitPlacesIndexOrderIntoDeclaredFields) {
    float table[2 * 14];
    for (int i = 0; i < 28; ++i) table[i] = static_cast<float>(i);
    Program p;
    EXPECT_STREQ(p.name, "Default");
    EXPECT_EQ(p.values.lfoFreq, 0.0f);
    p.init(table, 1);
    EXPECT_EQ(p.values.lfoFreq, 14.0f);
    EXPECT_EQ(p.values.lfoRand, 26.0f);  // index 12 sits after "LFO amnt"
    EXPECT_EQ(p.values.oscDamp, 21.0f);  // index 7
    EXPECT_EQ(p.values.oscShap, 27.0f);  // index 13
    EXPECT_EQ(p.values.release, 25.0f);  // index 11
    // The declared order walks the fields in memory order.
    const float* fields = &p.values.lfoFreq;
    for (int k = 0; k < kNumParams; ++k) EXPECT_EQ(fields[k], table[14 + kDeclaredOrder[k]]);
}

TEST(Parameters, EditsStayInTheirProgram) {
    Corvex fx(nullptr);
    fx.setProgram(3);
    fx.setParameter(0, 0.7f);
    fx.setProgram(4);
    EXPECT_EQ(fx.getParameter(0), 0.05f);
    fx.setProgram(3);
    EXPECT_EQ(fx.getParameter(0), 0.7f);
    EXPECT_EQ(fx.core().getPrograms()[3].values.lfoFreq, 0.7f);
}

TEST(Parameters, OutOfRangeIndicesChangeNothing) {
    Corvex fx(nullptr);
    const ParamValues before = fx.core().currentValues();
    fx.setParameter(14, 0.3f);
    fx.setParameter(-1, 0.3f);
    fx.setParameter(INT32_MAX, 0.3f);
    const ParamValues after = fx.core().currentValues();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    char text[32];
    fx.getParameterName(14, text);
    EXPECT_STREQ(text, "-");
    fx.getParameterDisplay(-3, text);
    EXPECT_STREQ(text, "0");
}

TEST(Parameters, ValuesAreStoredUnclamped) {
    Corvex fx(nullptr);
    fx.setParameter(kAttack, 1.5f);
    fx.setParameter(kDecay, -0.25f);
    EXPECT_EQ(fx.getParameter(kAttack), 1.5f);
    EXPECT_EQ(fx.getParameter(kDecay), -0.25f);
    // The display shows the value the engine renders with, so it always fits a host's buffer.
    char text[32];
    fx.getParameterDisplay(kAttack, text);
    EXPECT_STREQ(text, "1.000000");
    fx.getParameterDisplay(kDecay, text);
    EXPECT_STREQ(text, "0.000000");
}

TEST(Programs, NamesAndCurProgram) {
    Corvex fx(nullptr);
    fx.setProgram(2);
    char name[] = "My own sound";
    fx.setProgramName(name);
    char text[64];
    fx.getProgramName(text);
    EXPECT_STREQ(text, "My own sound");
    fx.setParameter(kLfoCent, 0.9f);
    fx.setCurProgram();
    // A name the user gave survives the re-send: hosts that store programs by name keep it.
    fx.getProgramName(text);
    EXPECT_STREQ(text, "My own sound");
    // setCurProgram re-applies the program's values, edits included.
    EXPECT_EQ(fx.getParameter(kLfoCent), 0.9f);
    EXPECT_TRUE(fx.getProgramNameIndexed(0, 37, text));
    EXPECT_STREQ(text, " Bass-1");
}

TEST(Programs, ConstructionAsksForMidiOnceAndSendsNoAutomation) {
    RecordingHost host;
    Corvex fx(RecordingHost::callback());
    EXPECT_EQ(host.count(audioMasterWantMidi), 1);
    EXPECT_EQ(host.count(audioMasterAutomate), 0);
    EXPECT_EQ(fx.getProgram(), 0);
    EXPECT_EQ(fx.getParameter(kLfoRand), 0.9f);  // "Aquatic"
}

struct ScanCase {
    const char* text;
    float start;
    float expected;
    bool read;
};

class String2Float : public ::testing::TestWithParam<ScanCase> {};

TEST_P(String2Float, ClampsAndKeepsValueWithoutANumber) {
    float v = GetParam().start;
    EXPECT_EQ(string2float(GetParam().text, v), GetParam().read);
    EXPECT_EQ(v, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, String2Float,
    ::testing::Values(ScanCase{"1.7", 0.5f, 1.0f, true}, ScanCase{"-2", 0.5f, 0.0f, true},
                      ScanCase{"0.25", 0.5f, 0.25f, true},
                      ScanCase{"  0.125xyz", 0.5f, 0.125f, true},
                      ScanCase{"abc", 0.5f, 0.5f, false}, ScanCase{"", 0.3f, 0.3f, false},
                      ScanCase{"nan", 0.3f, 0.3f, false}, ScanCase{"inf", 0.3f, 1.0f, true},
                      ScanCase{"1e99", 0.3f, 1.0f, true}));

TEST(String2Float, NullTextIsIgnored) {
    float v = 0.4f;
    EXPECT_FALSE(string2float(nullptr, v));
    EXPECT_EQ(v, 0.4f);
}

}  // namespace
