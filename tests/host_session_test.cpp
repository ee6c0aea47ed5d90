// SPDX-License-Identifier: GPL-3.0-or-later
// The scripted host session against the Linux plug-in: it repeats itself exactly (so its record
// can stand as the reference for the Windows builds), the build's record is current, and the
// record's text form and difference report hold what the comparison needs.
#include "testkit/host_session.h"
#include "hostkit/plugin.h"
#include "support/record_calls.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

session::PluginMain loadPlugin() {
    static const hostkit::Library plugin(CORVEX_PLUGIN_PATH);
    return plugin.entry();
}

TEST(HostSession, RepeatsExactlyAndMatchesTheBuildsRecord) {
    const session::PluginMain pluginMain = loadPlugin();
    ASSERT_NE(nullptr, pluginMain);
    const std::string first = session::format(session::record(pluginMain));
    EXPECT_EQ(first, session::format(session::record(pluginMain)));

    std::ifstream file(CORVEX_BINARY_DIR "/corvex-session.txt", std::ios::binary);
    ASSERT_TRUE(file) << "the build writes corvex-session.txt";
    std::stringstream recorded;
    recorded << file.rdbuf();
    EXPECT_TRUE(recorded.str() == first) << "corvex-session.txt is out of date";
}

TEST(HostSession, EverySectionIsRecordedAndSelectable) {
    const session::PluginMain pluginMain = loadPlugin();
    ASSERT_NE(nullptr, pluginMain);
    for (const std::string& section : session::sections()) {
        const session::Transcript part = session::record(pluginMain, section);
        ASSERT_FALSE(part.empty()) << section;
        for (const session::Entry& entry : part) {
            EXPECT_EQ(section, session::sectionOf(entry.key));
            EXPECT_EQ(std::string::npos, entry.value.find_first_of("\t\n")) << entry.key;
        }
    }
}

TEST(HostSession, TextFormRoundTripsAndRejectsDamage) {
    const session::Transcript t = {{"a/b", "1 two"}, {"render-x/0", "3f800000"}, {"c/d", ""}};
    session::Transcript back;
    ASSERT_TRUE(session::parse(session::format(t), back));
    ASSERT_EQ(t.size(), back.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(t[i].key, back[i].key);
        EXPECT_EQ(t[i].value, back[i].value);
    }
    EXPECT_FALSE(session::parse("no tab here\n", back));
    EXPECT_FALSE(session::parse("a/b\tunterminated", back));
}

TEST(HostSession, DifferenceNamesTheFirstDifferingSample) {
    const std::string message = session::describeDifference(
        "render-programs/3", "3f800000000000003f000000", "3f80000000000001bf000000");
    EXPECT_NE(std::string::npos, message.find("2 of 3 samples differ")) << message;
    EXPECT_NE(std::string::npos, message.find("first at sample 1: expected 00000000, got 00000001"))
        << message;
    EXPECT_EQ("", session::describeDifference("render-programs/3", "00", "00"));
    EXPECT_EQ("identity/vendor: expected \"1 Ondrel\", got \"1 Ondrel2\"",
              session::describeDifference("identity/vendor", "1 Ondrel", "1 Ondrel2"));
}

}  // namespace
