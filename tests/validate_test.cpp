// SPDX-License-Identifier: GPL-3.0-or-later
// Guards corvex-validate against passing what it should fail and failing what it should pass:
// Corvex and a well-behaved instrument pass at the highest strictness; each fault a test plug-in
// commits on demand fails the check meant to catch it; a crash fails one check and the run goes
// on to its summary; the command line refuses what it cannot use; what no host sends only warns,
// and a verdict's words never contradict it.
#include "support/validate_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace validate_run;

const std::string kFaulty = "'" CORVEX_FAULTY_PLUGIN "'";

TEST(ValidatePasses, CorvexAtTheHighestStrictness) {
    const std::string json = CORVEX_BINARY_DIR "/validate-corvex-test.json";
    const Outcome r = validate(
        "'" CORVEX_PLUGIN_PATH "' --strictness 10 --skip-editor --seed 7 --json '" + json + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    int passed = 0, failed = -1;
    EXPECT_TRUE(summary(r.out, &passed, &failed)) << r.out;
    EXPECT_GT(passed, 25);
    EXPECT_EQ(failed, 0);
    EXPECT_FALSE(anyLine(r.out, "FAIL")) << r.out;
    std::ifstream in(json);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_NE(content.str().find("\"failed\": 0"), std::string::npos) << content.str();
    EXPECT_NE(content.str().find("\"name\": \"state.restore\""), std::string::npos);
}

TEST(ValidatePasses, AWellBehavedInstrument) {
    const Outcome r =
        validate(kFaulty + " --strictness 10 --seed 3", "env -u DISPLAY CORVEX_FAULT=");
    EXPECT_EQ(r.status, 0) << r.out;
    int passed = 0, failed = -1;
    EXPECT_TRUE(summary(r.out, &passed, &failed)) << r.out;
    EXPECT_EQ(failed, 0);
}

struct Fault {
    const char* mode;
    const char* check;
    // Part of the failure text. A crash reads "crashed the host" in a plain build and "ended the
    // host process" under AddressSanitizer, whose handler exits instead of dying of the signal.
    const char* words;
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.mode << " in " << f.check; }

class ValidateCatches : public testing::TestWithParam<Fault> {};

TEST_P(ValidateCatches, TheFaultInItsCheck) {
    const Fault f = GetParam();
    const Outcome r = validate(kFaulty + " --strictness 10 --seed 5 --only " + f.check,
                               std::string("env -u DISPLAY CORVEX_FAULT=") + f.mode);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(hasLine(r.out, "FAIL", f.check)) << r.out;
    EXPECT_NE(r.out.find(f.words), std::string::npos) << r.out;
    int passed = 0, failed = 0;
    EXPECT_TRUE(summary(r.out, &passed, &failed)) << r.out;
    EXPECT_GE(failed, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ValidateCatches,
    testing::Values(Fault{"overrun", "lifecycle.block-sizes", "written past the frames"},
                    Fault{"nan", "audio.programs", "non-finite samples"},
                    Fault{"unterminated", "params.texts", "not terminated"},
                    Fault{"exception", "params.texts", "exception escaped the plug-in"},
                    Fault{"crashclose", "lifecycle.open-close", "the host"},
                    Fault{"early", "events.offsets", "not sample-accurate"},
                    Fault{"stuck", "events.all-notes-off", "still sounding"}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.mode); });

// Guards verdicts against blaming a plug-in for what no host does, and against words that
// contradict the verdict they explain.
TEST(ValidateVerdicts, ANaNParameterValueOnlyWarns) {
    const Outcome r = validate(kFaulty + " --strictness 10 --seed 5 --only audio.parameter-sweep",
                               "env -u DISPLAY CORVEX_FAULT=nanparam");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(hasLine(r.out, "WARN", "audio.parameter-sweep")) << r.out;
    EXPECT_NE(r.out.find("parameter 0 \"Gain\" set to NaN"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("non-finite samples"), std::string::npos) << r.out;
}

TEST(ValidateVerdicts, APeakJustBeyondTheBoundReadsBeyondIt) {
    const Outcome r = validate(kFaulty + " --strictness 10 --seed 5 --only audio.silence",
                               "env -u DISPLAY CORVEX_FAULT=hot");
    EXPECT_EQ(r.status, 1) << r.out;
    const auto at = r.out.find("peak ");
    ASSERT_NE(at, std::string::npos) << r.out;
    double peak = 0.0, bound = 0.0;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "peak %lf dBFS, beyond %lf dBFS", &peak, &bound), 2)
        << r.out;
    EXPECT_GT(peak, bound) << r.out;
}

TEST(ValidateVerdicts, AnOverwritingProcessWarnsOnlyBeforeInterface24) {
    // Interface 2.4 hosts never call process(): that it overwrites says nothing of a 2.4 plug-in.
    const Outcome now = validate(kFaulty + " --strictness 10 --only audio.process-replacing",
                                 "env -u DISPLAY CORVEX_FAULT=overwrite");
    EXPECT_EQ(now.status, 0) << now.out;
    EXPECT_TRUE(hasLine(now.out, "PASS", "audio.process-replacing")) << now.out;
    const Outcome old = validate(kFaulty + " --strictness 10 --only audio.process-replacing",
                                 "env -u DISPLAY CORVEX_FAULT=overwrite2300");
    EXPECT_EQ(old.status, 0) << old.out;
    EXPECT_TRUE(hasLine(old.out, "WARN", "audio.process-replacing")) << old.out;
    EXPECT_NE(old.out.find("version 2300"), std::string::npos) << old.out;
}

TEST(ValidateRuns, OnPastACrashToTheSummary) {
    const Outcome r =
        validate(kFaulty + " --strictness 10 --seed 5", "env -u DISPLAY CORVEX_FAULT=crashclose");
    EXPECT_EQ(r.status, 1);
    // Every check that closes an instance fails, the last one too; the others pass.
    EXPECT_TRUE(hasLine(r.out, "FAIL", "lifecycle.open-close")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "FAIL", "timing.realtime")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "PASS", "load.symbols")) << r.out;
    int passed = 0, failed = 0;
    EXPECT_TRUE(summary(r.out, &passed, &failed)) << r.out;
    EXPECT_GE(failed, 1);
}

TEST(ValidateRuns, AMissingFileFailsLoading) {
    const Outcome r = validate("/nonexistent/plugin.so --only load.entry");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(hasLine(r.out, "FAIL", "load.entry")) << r.out;
}

TEST(ValidateCommandLine, RefusesWhatItCannotUse) {
    EXPECT_EQ(validate("").status, 2);
    EXPECT_EQ(validate(kFaulty + " --strictness 11").status, 2);
    EXPECT_EQ(validate(kFaulty + " --strictness 0").status, 2);
    EXPECT_EQ(validate(kFaulty + " --seed -1").status, 2);
    EXPECT_EQ(validate(kFaulty + " --json").status, 2);
    EXPECT_EQ(validate(kFaulty + " --frobnicate").status, 2);
    EXPECT_EQ(validate(kFaulty + " " + kFaulty).status, 2);
    const Outcome help = validate("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: corvex-validate PLUGIN.so"), std::string::npos);
    const Outcome version = validate("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("corvex-validate 1.", 0), 0u) << version.out;
}

}  // namespace
