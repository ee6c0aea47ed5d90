// SPDX-License-Identifier: GPL-3.0-or-later
// Guards corvex-render's command line: the documented forms must parse to what they say, every
// mistake must be refused before anything is loaded or written, note names must map to the right
// MIDI notes, and program names must become file names that are safe everywhere.
#include "tools/corvex-render/app.h"
#include "hostkit/notename.h"
#include "tools/corvex-render/options.h"

#include <gtest/gtest.h>

using renderer::Options;
using renderer::parseOptions;
using renderer::SampleFormat;
using renderer::UsageError;

namespace {

TEST(RenderOptions, TheDocumentedNoteFormParses) {
    const Options o = parseOptions({"--program", "Birds", "--note", "C4", "--length", "2", "--tail",
                                    "1", "--rate", "48000", "-o", "out.wav"});
    EXPECT_EQ(o.program, "Birds");
    EXPECT_EQ(o.noteNumber, 60);
    EXPECT_EQ(o.lengthSeconds(), 2.0);
    EXPECT_EQ(o.tailSeconds(), 1.0);
    EXPECT_EQ(o.rate, 48000u);
    EXPECT_EQ(o.output, "out.wav");
    EXPECT_FALSE(o.format.has_value());
}

TEST(RenderOptions, TheOtherDocumentedFormsParse) {
    const Options midi = parseOptions({"--midi", "song.mid", "-o", "out.wav"});
    EXPECT_EQ(midi.midi, "song.mid");
    EXPECT_EQ(midi.tailSeconds(), renderer::kDefaultTail);

    const Options all =
        parseOptions({"--plugin", "/x/y.so", "--set", "LFO freq=0.3", "--set", "2=1", "--block",
                      "64", "--format", "float", "--all-programs", "dir"});
    EXPECT_EQ(all.plugin, "/x/y.so");
    EXPECT_EQ(all.sets, (std::vector<std::string>{"LFO freq=0.3", "2=1"}));
    EXPECT_EQ(all.block, 64);
    EXPECT_EQ(all.format, SampleFormat::Float);
    EXPECT_EQ(all.allProgramsDir, "dir");

    EXPECT_TRUE(parseOptions({"--list"}).list);
}

TEST(RenderOptions, AcceptsEqualsSignsAndAttachedShortValues) {
    const Options o = parseOptions(
        {"--note=A#3", "--velocity=1", "--format=wav16", "-oout.aiff", "--set=Attack=0"});
    EXPECT_EQ(o.noteNumber, 58);
    EXPECT_EQ(o.velocity, 1);
    EXPECT_EQ(o.format, SampleFormat::Pcm16);
    EXPECT_EQ(o.output, "out.aiff");
    EXPECT_EQ(o.sets, (std::vector<std::string>{"Attack=0"}));
}

TEST(RenderOptions, HelpAndVersionNeedNoOutput) {
    EXPECT_TRUE(parseOptions({"--help"}).help);
    EXPECT_TRUE(parseOptions({"--version"}).version);
}

struct BadCommandLine {
    const char* name;
    std::vector<std::string> args;
};
void PrintTo(const BadCommandLine& b, std::ostream* os) { *os << b.name; }

class RenderOptionsRejects : public testing::TestWithParam<BadCommandLine> {};

TEST_P(RenderOptionsRejects, WithAUsageError) {
    EXPECT_THROW(parseOptions(GetParam().args), UsageError);
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, RenderOptionsRejects,
    testing::Values(
        BadCommandLine{"NoOutput", {"--note", "C4"}},
        BadCommandLine{"UnknownOption", {"--loud", "-o", "a.wav"}},
        BadCommandLine{"MissingValue", {"-o"}}, BadCommandLine{"EmptyValue", {"-o", ""}},
        BadCommandLine{"ValueOnAFlag", {"--list=yes"}},
        BadCommandLine{"TwoModes", {"--list", "-o", "a.wav"}},
        BadCommandLine{"OutputAndAllPrograms", {"-o", "a.wav", "--all-programs", "d"}},
        BadCommandLine{"ProgramWithAllPrograms", {"--program", "1", "--all-programs", "d"}},
        BadCommandLine{"NoteWithMidi", {"--midi", "a.mid", "--note", "C4", "-o", "a.wav"}},
        BadCommandLine{"LengthWithMidi", {"--midi", "a.mid", "--length", "3", "-o", "a.wav"}},
        BadCommandLine{"BadNoteName", {"--note", "H4", "-o", "a.wav"}},
        BadCommandLine{"NoteAbove127", {"--note", "128", "-o", "a.wav"}},
        BadCommandLine{"VelocityZero", {"--velocity", "0", "-o", "a.wav"}},
        BadCommandLine{"VelocityTooHigh", {"--velocity", "128", "-o", "a.wav"}},
        BadCommandLine{"LengthZero", {"--length", "0", "-o", "a.wav"}},
        BadCommandLine{"LengthNegative", {"--length", "-1", "-o", "a.wav"}},
        BadCommandLine{"LengthNotANumber", {"--length", "nan", "-o", "a.wav"}},
        BadCommandLine{"LengthWithUnit", {"--length", "2s", "-o", "a.wav"}},
        BadCommandLine{"LengthHex", {"--length", "0x10", "-o", "a.wav"}},
        BadCommandLine{"LengthTooLong", {"--length", "3601", "-o", "a.wav"}},
        BadCommandLine{"TailInfinite", {"--tail", "inf", "-o", "a.wav"}},
        BadCommandLine{"RateTooLow", {"--rate", "100", "-o", "a.wav"}},
        BadCommandLine{"RateFractional", {"--rate", "44100.5", "-o", "a.wav"}},
        BadCommandLine{"RateHuge", {"--rate", "99999999999999999999", "-o", "a.wav"}},
        BadCommandLine{"BlockZero", {"--block", "0", "-o", "a.wav"}},
        BadCommandLine{"BlockTooLarge", {"--block", "16385", "-o", "a.wav"}},
        BadCommandLine{"UnknownFormat", {"--format", "mp3", "-o", "a.wav"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct NoteCase {
    const char* text;
    int note;  // -1: refused
};
void PrintTo(const NoteCase& n, std::ostream* os) { *os << '"' << n.text << '"'; }

class NoteNames : public testing::TestWithParam<NoteCase> {};

TEST_P(NoteNames, MapToMidiNotesWithC4At60) {
    const auto parsed = hostkit::parseNote(GetParam().text);
    if (GetParam().note < 0) {
        EXPECT_FALSE(parsed.has_value()) << *parsed;
    } else {
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(*parsed, GetParam().note);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NoteNames,
    testing::Values(NoteCase{"C4", 60}, NoteCase{"c4", 60}, NoteCase{"A4", 69}, NoteCase{"C-1", 0},
                    NoteCase{"G9", 127}, NoteCase{"C#4", 61}, NoteCase{"Db4", 61},
                    NoteCase{"Bb3", 58}, NoteCase{"bb3", 58}, NoteCase{"B#3", 60},
                    NoteCase{"Cb4", 59}, NoteCase{"F##2", 43}, NoteCase{"60", 60}, NoteCase{"0", 0},
                    NoteCase{"127", 127}, NoteCase{"", -1}, NoteCase{"H4", -1}, NoteCase{"C10", -1},
                    NoteCase{"G#9", -1}, NoteCase{"Cb-1", -1}, NoteCase{"128", -1},
                    NoteCase{"-1", -1}, NoteCase{"C", -1}, NoteCase{"C4x", -1},
                    NoteCase{"C###4", -1}, NoteCase{"60.5", -1}, NoteCase{" C4", -1},
                    NoteCase{"C+4", -1}, NoteCase{"C-", -1}));

TEST(NoteNames, NamesRoundTrip) {
    for (int n = 0; n < 128; ++n) EXPECT_EQ(hostkit::parseNote(hostkit::noteName(n)), n);
    EXPECT_EQ(hostkit::noteName(60), "C4");
    EXPECT_EQ(hostkit::noteName(128), "?");
}

TEST(SafeFileNames, KeepOnlyPortableCharacters) {
    using renderer::safeFileName;
    EXPECT_EQ(safeFileName("Birds"), "Birds");
    EXPECT_EQ(safeFileName(" Bass-1"), "Bass-1");
    EXPECT_EQ(safeFileName("Pad: warm / wide?"), "Pad_warm_wide");
    EXPECT_EQ(safeFileName("../../etc/passwd"), "etc_passwd");
    EXPECT_EQ(safeFileName("..."), "program");
    EXPECT_EQ(safeFileName(""), "program");
    EXPECT_EQ(safeFileName("Caf\xC3\xA9 No.5"), "Caf_No.5");
    EXPECT_EQ(safeFileName(std::string(300, 'x')).size(), 64u);
}

}  // namespace
