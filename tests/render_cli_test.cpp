// SPDX-License-Identifier: GPL-3.0-or-later
// Guards corvex-render as a user runs it, through the real Corvex plug-in and third-party ones:
// files of the promised length, rate, channels and type; sound in both (identical) channels; notes
// starting and ending on the exact sample; programs and parameters chosen by name or index; every
// error reported with a non-zero exit and no output file, not even when the plug-in crashes.
#include "support/render_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

using testsupport::Audio;
using testsupport::Bytes;
using testsupport::readAudio;
using testsupport::runRenderer;
using testsupport::RunResult;
using testsupport::Smf;
using testsupport::TempDir;

namespace {

float peakOf(const Audio& a) {
    float peak = 0.0f;
    for (float v : a.samples) peak = std::max(peak, std::fabs(v));
    return peak;
}

bool channelsIdentical(const Audio& a) {
    for (int64_t f = 0; f < a.frames; ++f)
        for (int c = 1; c < a.channels; ++c)
            if (a.at(f, c) != a.at(f, 0)) return false;
    return true;
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string describe(const RunResult& r) {
    return "exit " + std::to_string(r.exitCode) + "\n" + r.err;
}

// ---- The file's shape ---------------------------------------------------------------------

struct Shape {
    const char* name;
    const char* file;
    const char* rate;
    const char* length;
    const char* tail;
    const char* format;  // --format, or "" for the default
    int64_t frames;
    int major;
    int subtype;
};
void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

class RenderedFile : public testing::TestWithParam<Shape> {};

TEST_P(RenderedFile, HasTheAskedLengthRateTypeAndSoundInIdenticalChannels) {
    const Shape& s = GetParam();
    TempDir dir;
    std::vector<std::string> args = {"--program", "Pad-1", "--note", "C4",   "--length", s.length,
                                     "--tail",    s.tail,  "--rate", s.rate, "-o",       s.file};
    if (*s.format) args.insert(args.end(), {"--format", s.format});
    const RunResult r = runRenderer(args, dir.path().string());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{s.file}) << "stray files";
    const Audio a = readAudio(dir / s.file);
    EXPECT_EQ(a.frames, s.frames);
    EXPECT_EQ(a.rate, std::stoi(s.rate));
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.format & SF_FORMAT_TYPEMASK, s.major);
    EXPECT_EQ(a.format & SF_FORMAT_SUBMASK, s.subtype);
    EXPECT_GT(peakOf(a), 1e-3f) << "silent";
    EXPECT_TRUE(channelsIdentical(a));
    // The report names the file and its levels; no progress bar when stderr is not a terminal.
    EXPECT_NE(r.out.find(s.file), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("dBFS"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(Shapes, RenderedFile,
                         testing::Values(Shape{"DefaultFormatTwoSecondsAt48k", "out.wav", "48000",
                                               "2", "1", "", 144000, SF_FORMAT_WAV,
                                               SF_FORMAT_PCM_24},
                                         Shape{"Wav16", "a.wav", "44100", "0.5", "0.25", "wav16",
                                               33075, SF_FORMAT_WAV, SF_FORMAT_PCM_16},
                                         Shape{"FloatWav", "b.WAV", "96000", "0.1", "0", "float",
                                               9600, SF_FORMAT_WAV, SF_FORMAT_FLOAT},
                                         Shape{"Aiff", "c.aiff", "22050", "0.3", "0.2", "wav24",
                                               11025, SF_FORMAT_AIFF, SF_FORMAT_PCM_24},
                                         Shape{"Flac", "d.flac", "48000", "0.25", "0.25", "wav16",
                                               24000, SF_FORMAT_FLAC, SF_FORMAT_PCM_16},
                                         Shape{"Caf", "e.caf", "32000", "0.25", "0.5", "float",
                                               24000, SF_FORMAT_CAF, SF_FORMAT_FLOAT},
                                         Shape{"W64", "f.w64", "8000", "1", "1", "", 16000,
                                               SF_FORMAT_W64, SF_FORMAT_PCM_24}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Exact timing -------------------------------------------------------------------------

// A song whose tempo changes: half a second at 120 bpm, then 100 bpm at 96 ticks per quarter.
// The note-on comes 7 ticks after the change and the note-off 96 ticks later.
Bytes timingSong() {
    return Smf::cat(
        {Smf::header(1, 2, 96),
         Smf::track(Smf::cat({Smf::tempo(0, 500000), Smf::tempo(96, 600000)})),
         Smf::track(Smf::cat({Smf::event(103, {0x90, 60, 100}), Smf::event(96, {0x80, 60, 0})}))});
}
// 0.5 s + 7 x 6.25 ms = 0.54375 s; the note-off 0.6 s later.
constexpr int64_t kNoteOn44k = 23979;   // 23979.375
constexpr int64_t kNoteOff44k = 50439;  // 50439.375

class NoteTiming : public testing::TestWithParam<const char*> {};

TEST_P(NoteTiming, CorvexSoundsExactlyFromTheNoteOnSampleToTheNoteOffSample) {
    TempDir dir;
    testsupport::writeFile(dir / "song.mid", timingSong());
    // Attack and release of 0 make the envelope jump, so the note's edges are single samples.
    const RunResult r =
        runRenderer({"--midi", "song.mid", "--program", "Organ-like", "--set", "Attack=0", "--set",
                     "Release=0", "--rate", "44100", "--block", GetParam(), "--tail", "0.5",
                     "--format", "float", "-o", "t.wav"},
                    dir.path().string());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio a = readAudio(dir / "t.wav");
    ASSERT_EQ(a.frames, kNoteOff44k + 22050);
    for (int64_t f = 0; f < kNoteOn44k; ++f)
        ASSERT_EQ(a.at(f, 0), 0.0f) << "sound before the note at " << f;
    EXPECT_NE(a.at(kNoteOn44k, 0), 0.0f) << "no sound at the note-on sample";
    EXPECT_NE(a.at(kNoteOff44k - 1, 0), 0.0f) << "silent before the note-off";
    for (int64_t f = kNoteOff44k; f < a.frames; ++f)
        ASSERT_EQ(a.at(f, 0), 0.0f) << "sound after the note-off at " << f;
    EXPECT_TRUE(channelsIdentical(a));
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, NoteTiming, testing::Values("1", "64", "512", "4096"));

TEST(NoteTiming, ProbeSeesEveryMidiFileEventOnItsSample) {
    TempDir dir;
    // Format 1: conductor track with three tempos, two note tracks, a controller and a bend.
    const Bytes song = Smf::cat(
        {Smf::header(1, 3, 480),
         Smf::track(
             Smf::cat({Smf::tempo(0, 400000), Smf::tempo(480, 750000), Smf::tempo(480, 300000)})),
         Smf::track(Smf::cat({Smf::event(0, {0x90, 40, 90}), Smf::event(700, {41, 90}),
                              Smf::event(700, {0x80, 40, 0})})),
         Smf::track(Smf::cat({Smf::event(333, {0xB0, 7, 64}), Smf::event(1000, {0xE0, 0, 64})}))});
    testsupport::writeFile(dir / "song.mid", song);
    const RunResult r = runRenderer({"--plugin", testsupport::probePluginPath(), "--midi",
                                     "song.mid", "--rate", "44100", "--block", "100", "--tail",
                                     "0.01", "--format", "float", "-o", "p.wav"},
                                    dir.path().string());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio a = readAudio(dir / "p.wav");
    std::vector<std::pair<int64_t, float>> marks;
    for (int64_t f = 0; f < a.frames; ++f)
        if (a.at(f, 0) != 0.0f) marks.emplace_back(f, a.at(f, 0));
    // Ticks 0, 333, 700, 1333, 1400 -> seconds: 0; 333/480 x 0.4; 0.4 + 220/480 x 0.75;
    // 0.4 + 0.75 + 373/480 x 0.3; 0.4 + 0.75 + 440/480 x 0.3 = 1.425, exactly 62842.5 frames,
    // which rounds up.
    const std::vector<std::pair<int64_t, float>> expected = {
        {0, 1040.0f}, {12238, 3007.0f}, {32799, 1041.0f}, {60996, 4000.0f}, {62843, 2040.0f}};
    EXPECT_EQ(marks, expected);
    EXPECT_EQ(a.frames, 62843 + 441);
}

// ---- Programs and parameters --------------------------------------------------------------

std::string renderWith(const TempDir& dir, const std::string& name, std::vector<std::string> args) {
    args.insert(args.end(), {"--length", "0.3", "--tail", "0.1", "--format", "float", "-o", name});
    const RunResult r = runRenderer(args, dir.path().string());
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    return slurp(dir / name);
}

// Renders repeat exactly, so equal settings must give byte-identical files.
TEST(ProgramSelection, ByNameIndexAndCaseGiveTheSameSound) {
    TempDir dir;
    const std::string byName = renderWith(dir, "a.wav", {"--program", "Birds"});
    EXPECT_TRUE(renderWith(dir, "b.wav", {"--program", "3"}) == byName);
    EXPECT_TRUE(renderWith(dir, "c.wav", {"--program", "birds"}) == byName);
    EXPECT_FALSE(renderWith(dir, "d.wav", {"--program", "Aquatic"}) == byName);
    // Names with a leading blank are found without it.
    EXPECT_TRUE(renderWith(dir, "e.wav", {"--program", "bass-1"}) ==
                renderWith(dir, "f.wav", {"--program", "37"}));
}

TEST(ParameterSelection, ByNameAndIndexGiveTheSameSoundAndChangeIt) {
    TempDir dir;
    const std::string plain = renderWith(dir, "a.wav", {"--program", "Pad-2"});
    const std::string byName =
        renderWith(dir, "b.wav", {"--program", "Pad-2", "--set", "LFO freq=0.9"});
    EXPECT_FALSE(byName == plain);
    EXPECT_TRUE(renderWith(dir, "c.wav", {"--program", "Pad-2", "--set", "0=0.9"}) == byName);
    EXPECT_TRUE(renderWith(dir, "d.wav", {"--program", "Pad-2", "--set", " lfo FREQ = 0.9"}) ==
                byName);
}

TEST(ListCommand, ShowsProgramsAndCurrentDisplayTexts) {
    TempDir dir;
    const RunResult r =
        runRenderer({"--list", "--program", "Birds", "--set", "LFO freq=0.3", "--set", "LFO ph=1"},
                    dir.path().string());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_NE(r.out.find("Corvex by Ondrel"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("64 programs, 14 parameters"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   37   Bass-1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Parameters (program 3)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LFO freq  0.300000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LFO ph    Random"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("OSC harm  0.711100"), std::string::npos) << r.out;
    EXPECT_TRUE(dir.entries().empty());
}

TEST(AllProgramsOption, WritesOneSafelyNamedFilePerProgram) {
    TempDir dir;
    const RunResult r = runRenderer(
        {"--all-programs", "bank", "--length", "0.02", "--tail", "0.01", "--rate", "22050"},
        dir.path().string());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    TempDir unused;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path() / "bank"))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 64u);
    EXPECT_EQ(names[0], "00-Aquatic.wav");
    EXPECT_EQ(names[3], "03-Birds.wav");
    EXPECT_EQ(names[37], "37-Bass-1.wav");
    EXPECT_EQ(names[63], "63-default.wav");
    for (const auto& n : names) {
        const Audio a = readAudio((dir.path() / "bank" / n).string());
        EXPECT_EQ(a.frames, 662) << n;  // 441 + 221 (0.01 s rounds up)
        EXPECT_EQ(a.channels, 2) << n;
    }
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 64);
    EXPECT_NE(r.out.find("bank/03-Birds.wav"), std::string::npos);
}

TEST(DefaultPlugin, IsTheCorvexBuiltBesideTheRenderer) {
    TempDir dir;
    const RunResult r =
        runRenderer({"--list"}, dir.path().string(), {"LXVST_PATH=", "HOME=/nonexistent"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_NE(r.out.find(std::string(CORVEX_BINARY_DIR) + "/corvex.so"), std::string::npos)
        << r.out;
}

// ---- Third-party instruments --------------------------------------------------------------

// Where configure found each instrument (empty: not found).
struct Instrument {
    const char* name;
    const char* path;
};
void PrintTo(const Instrument& i, std::ostream* os) { *os << i.name; }

class ThirdParty : public testing::TestWithParam<Instrument> {};

TEST_P(ThirdParty, RendersANoteWithSound) {
    const std::string path = GetParam().path;
    if (path.empty() || !std::filesystem::exists(path))
        GTEST_SKIP() << GetParam().name << " was not found when the build was configured";
    TempDir dir;
    // Leaks inside a third-party plug-in are not ours to find.
    const RunResult r = runRenderer({"--plugin", path, "--note", "A2", "--length", "1", "--tail",
                                     "0.5", "--format", "float", "-o", "x.wav"},
                                    dir.path().string(), {"ASAN_OPTIONS=detect_leaks=0"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio a = readAudio(dir / "x.wav");
    EXPECT_EQ(a.frames, 72000);
    EXPECT_GE(a.channels, 1);
    EXPECT_GT(peakOf(a), 1e-3f) << "silent";
}

INSTANTIATE_TEST_SUITE_P(Instruments, ThirdParty,
                         testing::Values(Instrument{"amsynth", CORVEX_AMSYNTH_VST},
                                         Instrument{"Nekobi", CORVEX_NEKOBI_VST}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Errors -------------------------------------------------------------------------------

struct Failure {
    const char* name;
    std::vector<std::string> args;  // "{probe}" and "{noentry}" stand for the test plug-ins
    const char* probeMode;          // CORVEX_PROBE_MODE, or ""
    int exitCode;                   // negative: ended by that signal
    const char* message;            // part of stderr
};
void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

// Fixtures every failure test starts with; none may be left changed or joined by another file.
void makeFixtures(const TempDir& dir) {
    testsupport::writeText(dir / "notaplugin.so", "plain text\n");
    testsupport::writeFile(dir / "truncated.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1});
    testsupport::writeFile(dir / "riff.mid", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'R', 'M', 'I', 'D'});
    Bytes absurd = Smf::cat({Smf::header(0, 1, 480), Smf::track(Smf::event(0, {0x90, 60, 1}))});
    absurd[14 + 4] = 0x7F;
    testsupport::writeFile(dir / "absurd.mid", absurd);
    testsupport::writeFile(dir / "empty.mid",
                           Smf::cat({Smf::header(0, 1, 480), Smf::track(Smf::tempo(0, 500000))}));
    testsupport::writeFile(
        dir / "endless.mid",
        Smf::cat(
            {Smf::header(0, 1, 1), Smf::track(Smf::cat({Smf::tempo(0, 0xFFFFFF),
                                                        Smf::event(0x0FFFFFFF, {0x90, 60, 1})}))}));
    std::filesystem::create_directory(dir.path() / "folder.wav");
    std::filesystem::create_directory(dir.path() / "songs");
    ::mkfifo((dir / "pipe.mid").c_str(), 0600);
}

class RenderFails : public testing::TestWithParam<Failure> {};

TEST_P(RenderFails, WithAMessageAndNoOutputFile) {
    const Failure& f = GetParam();
    TempDir dir;
    makeFixtures(dir);
    const auto before = dir.entries();
    std::vector<std::string> args;
    for (const auto& a : f.args)
        args.push_back(a == "{probe}"     ? testsupport::probePluginPath()
                       : a == "{noentry}" ? testsupport::noEntryPluginPath()
                                          : a);
    std::vector<std::string> env;
    if (*f.probeMode) env.push_back(std::string("CORVEX_PROBE_MODE=") + f.probeMode);
    const RunResult r = runRenderer(args, dir.path().string(), env);
    if (f.exitCode < 0) EXPECT_LT(r.exitCode, 0) << "expected to die by a signal: " << describe(r);
    else EXPECT_EQ(r.exitCode, f.exitCode) << describe(r);
    EXPECT_NE(r.err.find(f.message), std::string::npos) << r.err;
    EXPECT_EQ(dir.entries(), before) << "a file was left behind";
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "folder.wav"));
}

const std::vector<std::string> kOut = {"-o", "out.wav"};
std::vector<std::string> withOut(std::vector<std::string> a) {
    a.insert(a.end(), kOut.begin(), kOut.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, RenderFails,
    testing::Values(
        Failure{"UsageMistake", withOut({"--bogus"}), "", 2, "Try 'corvex-render --help'"},
        Failure{"MissingPlugin", withOut({"--plugin", "/nonexistent/x.so"}), "", 1, "not found"},
        Failure{"NotAPlugin", withOut({"--plugin", "./notaplugin.so"}), "", 1, "cannot load"},
        Failure{"NoEntryPoint", withOut({"--plugin", "{noentry}"}), "", 1,
                "neither VSTPluginMain nor main"},
        Failure{"EntryReturnsNull", withOut({"--plugin", "{probe}"}), "null", 1,
                "returned no effect"},
        Failure{"WrongMagic", withOut({"--plugin", "{probe}"}), "badmagic", 1, "wrong magic"},
        Failure{"NoOutputs", withOut({"--plugin", "{probe}"}), "noout", 1, "no audio outputs"},
        Failure{"MissingMidiFile", withOut({"--midi", "none.mid"}), "", 1, "cannot open MIDI file"},
        Failure{"MidiIsAFolder", withOut({"--midi", "songs"}), "", 1, "songs: it is a folder"},
        Failure{"MidiIsAFifo", withOut({"--midi", "pipe.mid"}), "", 1, "it is not a regular file"},
        Failure{"TruncatedMidiFile", withOut({"--midi", "truncated.mid"}), "", 1, "truncated"},
        Failure{"WrongChunk", withOut({"--midi", "riff.mid"}), "", 1, "not a Standard MIDI File"},
        Failure{"AbsurdChunkLength", withOut({"--midi", "absurd.mid"}), "", 1, "runs past the end"},
        Failure{"MidiWithoutNotes", withOut({"--midi", "empty.mid"}), "", 1, "holds no notes"},
        Failure{"EndlessSong", withOut({"--midi", "endless.mid"}), "", 1, "at most 4 hours"},
        Failure{"UnknownProgram", withOut({"--program", "Nope"}), "", 1, "no program named 'Nope'"},
        Failure{"ProgramOutOfRange", withOut({"--program", "64"}), "", 1, "programs are 0 to 63"},
        Failure{"UnknownParameter", withOut({"--set", "Wobble=0.5"}), "", 1,
                "no parameter named 'Wobble'"},
        Failure{"ParameterIndexOutOfRange", withOut({"--set", "14=0.5"}), "", 1,
                "parameters are 0 to 13"},
        Failure{"ParameterValueOutOfRange", withOut({"--set", "Attack=1.5"}), "", 1, "from 0 to 1"},
        Failure{"ParameterWithoutValue", withOut({"--set", "Attack"}), "", 1, "NAME=VALUE"},
        Failure{"UnwritableFolder", {"-o", "no/such/folder/out.wav"}, "", 1, "cannot write"},
        Failure{"OutputIsAFolder", {"-o", "folder.wav"}, "", 1, "not a regular file"},
        Failure{"UnknownFileType", {"-o", "out.mp3"}, "", 1, "cannot tell which kind"},
        Failure{"FloatFlac", {"-o", "out.flac", "--format", "float"}, "", 1, "FLAC"},
        Failure{"PluginCrashes", withOut({"--plugin", "{probe}", "--length", "1"}), "crash", -1,
                ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RenderFails, ACrashKeepsTheOldFileIntact) {
    TempDir dir;
    testsupport::writeText(dir / "out.wav", "the previous render");
    const RunResult r = runRenderer({"--plugin", testsupport::probePluginPath(), "-o", "out.wav"},
                                    dir.path().string(), {"CORVEX_PROBE_MODE=crash"});
    EXPECT_LT(r.exitCode, 0) << describe(r);
    EXPECT_TRUE(slurp(dir / "out.wav") == "the previous render") << "the old file was replaced";
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"});
}

TEST(RenderFails, LongValuesAreCutInMessages) {
    TempDir dir;
    const std::string huge(10000, 'Q');
    for (const std::vector<std::string>& args :
         {withOut({"--note", huge}), withOut({"--set", "Attack=" + huge}),
          withOut({"--program", huge}), withOut({"--set", huge + "=0.5"}),
          std::vector<std::string>{"-o", "missing/" + huge.substr(12) + ".wav"},
          std::vector<std::string>{"-o", huge.substr(4) + ".mp3"}}) {
        const RunResult r = runRenderer(args, dir.path().string());
        EXPECT_NE(r.exitCode, 0);
        EXPECT_LT(r.err.size(), 300u) << r.err.substr(0, 300);
        EXPECT_NE(r.err.find("\u2026' (10000 bytes)"), std::string::npos) << r.err.substr(0, 300);
    }
}

TEST(RenderFails, ASongJustOverFourHoursGivesBothLengths) {
    // Exactly four hours of song plus the default three-second tail.
    TempDir dir;
    testsupport::writeFile(
        dir / "long.mid",
        Smf::cat({Smf::header(0, 1, 1), Smf::track(Smf::cat({Smf::event(0, {0x90, 60, 100}),
                                                             Smf::event(28800, {0x80, 60, 0})}))}));
    const RunResult r = runRenderer(withOut({"--midi", "long.mid"}), dir.path().string());
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    for (const char* part : {"lasts 4 h 0 min 0.000 s", "4 h 0 min 3.000 s with its tail",
                             "3.000 s over the limit", "at most 4 hours", "shorter --tail"})
        EXPECT_NE(r.err.find(part), std::string::npos) << part << "\n" << r.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"long.mid"});
}

// ---- Output names -------------------------------------------------------------------------

TEST(OutputNames, TheLongestNameTheFileSystemTakesIsWritten) {
    TempDir dir;
    const std::string name = std::string(251, 'n') + ".wav";  // 255 bytes
    const RunResult r =
        runRenderer({"--length", "0.05", "--tail", "0", "-q", "-o", name}, dir.path().string());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{name});
    EXPECT_EQ(readAudio(dir / name).frames, 2400);
}

TEST(OutputNames, ALinkIsWrittenThroughAndKept) {
    TempDir dir;
    std::filesystem::create_symlink("target.wav", dir.path() / "out.wav");  // dangling
    const RunResult r = runRenderer({"--length", "0.05", "--tail", "0", "-q", "-o", "out.wav"},
                                    dir.path().string());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "out.wav"));
    EXPECT_EQ(std::filesystem::read_symlink(dir.path() / "out.wav"), "target.wav");
    EXPECT_EQ(readAudio(dir / "target.wav").frames, 2400);

    // A link into a folder that does not exist: refused, the link left as it was.
    std::filesystem::create_symlink("no/such/target.wav", dir.path() / "lost.wav");
    const RunResult lost = runRenderer({"--length", "0.05", "--tail", "0", "-q", "-o", "lost.wav"},
                                       dir.path().string());
    EXPECT_EQ(lost.exitCode, 1);
    EXPECT_NE(lost.err.find("a link to"), std::string::npos) << lost.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "lost.wav"));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"lost.wav", "out.wav", "target.wav"}));
}

// ---- Warnings -----------------------------------------------------------------------------

TEST(LevelWarnings, ClippingIsReportedAndIntegerSamplesSaturate) {
    TempDir dir;
    const RunResult r = runRenderer({"--plugin", testsupport::probePluginPath(), "--length", "0.1",
                                     "--tail", "0", "--format", "wav16", "-o", "loud.wav"},
                                    dir.path().string(), {"CORVEX_PROBE_MODE=loud"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_NE(r.err.find("peak +6.0 dBFS is above full scale"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("peak +6.0 dBFS"), std::string::npos) << r.out;
    const Audio a = readAudio(dir / "loud.wav");
    EXPECT_LE(peakOf(a), 1.0f);
    EXPECT_GT(peakOf(a), 0.99f);
}

TEST(LevelWarnings, NonFiniteSamplesBecomeSilence) {
    TempDir dir;
    const RunResult r = runRenderer({"--plugin", testsupport::probePluginPath(), "--length", "0.1",
                                     "--tail", "0", "--format", "float", "-o", "nan.wav"},
                                    dir.path().string(), {"CORVEX_PROBE_MODE=nan"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_NE(r.err.find("9600 non-finite samples"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("peak -inf dBFS, RMS -inf dBFS"), std::string::npos) << r.out;
    const Audio a = readAudio(dir / "nan.wav");
    EXPECT_EQ(peakOf(a), 0.0f);
}

TEST(HelpText, FitsAScreenAndExitsCleanly) {
    TempDir dir;
    const RunResult r = runRenderer({"--help"}, dir.path().string());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_LE(std::count(r.out.begin(), r.out.end(), '\n'), 24);
    for (const char* option :
         {"--plugin", "--program", "--set", "--block", "--format", "--all-programs", "--list",
          "--midi", "--note", "--length", "--tail", "--rate"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(Version, IsTheProjectVersionAndTheEngineKernel) {
    TempDir dir;
    const RunResult r = runRenderer({"--version"}, dir.path().string(), {"CORVEX_KERNEL="});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("corvex-render " CORVEX_PROJECT_VERSION "\nengine kernel: ", 0), 0u)
        << r.out;

    // A forced kernel is named; one this CPU cannot run is refused by name, and the best one it
    // runs is used instead (never a crash on an illegal instruction).
    const RunResult portable =
        runRenderer({"--version"}, dir.path().string(), {"CORVEX_KERNEL=portable"});
    EXPECT_NE(portable.out.find("\nengine kernel: portable\n"), std::string::npos) << portable.out;
    const RunResult unknown =
        runRenderer({"--version"}, dir.path().string(), {"CORVEX_KERNEL=mmx"});
    EXPECT_NE(unknown.out.find("(CORVEX_KERNEL=mmx is not available here)"), std::string::npos)
        << unknown.out;
}

// The manual page is made from README.md's corvex-render section: an option the program knows
// but that section leaves out would be missing from both.
TEST(Manual, DescribesEveryOptionTheHelpNames) {
    TempDir dir;
    const RunResult r = runRenderer({"--help"}, dir.path().string());
    ASSERT_EQ(r.exitCode, 0);
    std::ifstream in(std::string(CORVEX_SOURCE_DIR) + "/README.md");
    std::stringstream readme;
    readme << in.rdbuf();
    const std::string text = readme.str();
    const size_t start = text.find("\n## corvex-render: ");
    ASSERT_NE(start, std::string::npos) << "README.md has no corvex-render section";
    const std::string manual = text.substr(start, text.find("\n## ", start + 1) - start);
    std::istringstream help(r.out);
    std::string word;
    int options = 0;
    while (help >> word) {
        if (word.rfind("--", 0) != 0 || word.size() < 3) continue;
        const std::string option = word.substr(0, word.find_first_of("=,)"));
        ++options;
        EXPECT_NE(manual.find("`" + option), std::string::npos) << option;
    }
    EXPECT_GE(options, 15);
}

}  // namespace
