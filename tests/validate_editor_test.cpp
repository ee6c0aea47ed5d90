// Guards corvex-validate's editor checks on X11 against passing what they should fail and failing
// what they should pass: Corvex's editor passes them all at the highest strictness; an editor
// whose window outlives its closing, and one whose X errors reach the host's handler, fail.
#include "support/validate_run.h"
#include "support/x11_environment.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace validate_run;

const std::string kFaulty = "'" CORVEX_FAULTY_PLUGIN "'";

TEST(ValidateEditor, CorvexPassesEveryEditorCheck) {
    const Outcome r = validate("'" CORVEX_PLUGIN_PATH "' --strictness 10 --only editor --seed 2");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* check :
         {"editor.rect", "editor.open-close", "editor.reopen", "editor.parent-destroyed"})
        EXPECT_TRUE(hasLine(r.out, "PASS", check)) << check << "\n" << r.out;
}

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
