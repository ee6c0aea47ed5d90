// SPDX-License-Identifier: GPL-3.0-or-later
// Guards corvex-validate's editor checks on X11 against passing what they should fail and failing
// what they should pass: Corvex's editor and well-behaved test editors pass them all at the highest
// strictness; an editor whose window outlives its closing, one whose X errors reach the host's
// handler, ones that leave X connections, top-level windows or file descriptors behind when
// closed while open or opened twice, and ones whose opening changes the program, fail.
#include "support/validate_run.h"
#include "support/x11_environment.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using namespace validate_run;

const std::string kFaulty = "'" CORVEX_FAULTY_PLUGIN "'";

const char* const kEditorChecks[] = {"editor.rect",
                                     "editor.open-close",
                                     "editor.reopen",
                                     "editor.parent-destroyed",
                                     "editor.close-while-open",
                                     "editor.open-twice",
                                     "editor.open-keeps-program"};

TEST(ValidateEditor, CorvexPassesEveryEditorCheck) {
    const Outcome r = validate("'" CORVEX_PLUGIN_PATH "' --strictness 10 --only editor --seed 2");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* check : kEditorChecks)
        EXPECT_TRUE(hasLine(r.out, "PASS", check)) << check << "\n" << r.out;
}

// Guards the leak counts against blaming an editor for what it holds once, not once per cycle: one
// of these keeps a connection for the library's life.
TEST(ValidateEditor, WellBehavedEditorsPassEveryEditorCheck) {
    for (const char* mode : {"editor", "sharededitor"}) {
        const Outcome r = validate(kFaulty + " --strictness 10 --only editor --seed 2",
                                   std::string("CORVEX_FAULT=") + mode);
        EXPECT_EQ(r.status, 0) << mode << "\n" << r.out;
        for (const char* check : kEditorChecks)
            EXPECT_TRUE(hasLine(r.out, "PASS", check)) << mode << " " << check << "\n" << r.out;
    }
}

// Guards each new editor check against missing the fault it is there for, or miscounting it.
struct EditorFault {
    const char* mode;
    const char* check;
    const char* words;  // part of the failure text, with the figures it must get right
};

void PrintTo(const EditorFault& f, std::ostream* os) { *os << f.mode << " in " << f.check; }

class ValidateEditorCatches : public testing::TestWithParam<EditorFault> {};

TEST_P(ValidateEditorCatches, TheFaultInItsCheck) {
    const EditorFault f = GetParam();
    const Outcome r = validate(kFaulty + " --strictness 10 --verbose --only " + f.check,
                               std::string("CORVEX_FAULT=") + f.mode);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(hasLine(r.out, "FAIL", f.check)) << r.out;
    EXPECT_NE(r.out.find(f.words), std::string::npos) << r.out;
}

// Twenty cycles, judged from the first one on: a leak of one per cycle shows as 19.
INSTANTIATE_TEST_SUITE_P(
    Faults, ValidateEditorCatches,
    testing::Values(
        EditorFault{"closeleak", "editor.close-while-open", "19 X connections left open"},
        EditorFault{"twiceleak", "editor.open-twice", "19 X connections left open"},
        EditorFault{"toplevelleak", "editor.close-while-open", "19 top-level windows left"},
        EditorFault{"fdleak", "editor.reopen", "19 file descriptors"},
        EditorFault{"renameonopen", "editor.open-keeps-program",
                    "opening the editor renamed program 0 from \"My Patch\" to \"First\""},
        EditorFault{"resetonopen", "editor.open-keeps-program",
                    "opening the editor changed parameter 1 \"Tone\" from 0.37 to 0.5"}),
    [](const testing::TestParamInfo<EditorFault>& info) { return std::string(info.param.mode); });

TEST(ValidateEditor, WindowsLeftAfterClosingFail) {
    const Outcome r =
        validate(kFaulty + " --strictness 10 --only editor.open-close", "CORVEX_FAULT=editorleak");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(hasLine(r.out, "FAIL", "editor.open-close")) << r.out;
    EXPECT_NE(r.out.find("windows left in the host's window"), std::string::npos) << r.out;
}

TEST(ValidateEditor, XErrorsReachingTheHostFail) {
    const Outcome r =
        validate(kFaulty + " --strictness 10 --only editor.reopen", "CORVEX_FAULT=xerror");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("X errors reached the host's error handler"), std::string::npos) << r.out;
}

TEST(ValidateEditor, AMissingDisplaySkipsTheEditor) {
    const Outcome r = validate("'" CORVEX_PLUGIN_PATH "' --only editor", "env -u DISPLAY");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(hasLine(r.out, "SKIP", "editor.open-close")) << r.out;
    int passed = -1, failed = -1;
    EXPECT_TRUE(summary(r.out, &passed, &failed)) << r.out;
    EXPECT_EQ(passed + failed, 0);
}

}  // namespace
