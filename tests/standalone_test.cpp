// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the standalone's own logic without a JACK server or an X display: its command line and
// program names (near names for a typo, any text safe), the remembered sound (an exact round trip;
// every truncation and every kind of damage refused, never a crash; nothing left behind), the
// piano key map, and its window on the in-memory window system: the editor's pixels untouched by
// the program bar, the bar and the program list choosing programs (title, knobs and synth
// follow), the computer keyboard playing without auto-repeat retriggers, releasing what is held
// when the focus goes, and keeping quiet while a value is typed.
#include "core/synth.h"
#include "platform/memory_window.h"
#include "standalone/app_window.h"
#include "standalone/keymap.h"
#include "standalone/options.h"
#include "standalone/state.h"
#include "window/corvex_window.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace corvex_standalone;

namespace {

Options parsed(std::vector<const char*> args, bool expectOk = true) {
    args.insert(args.begin(), "corvex");
    Options options;
    std::string error;
    EXPECT_EQ(parseOptions(static_cast<int>(args.size()), args.data(), options, error), expectOk)
        << error;
    return options;
}

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/corvex-standalone-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::vector<std::string> entries(const std::string& sub) const {
        std::vector<std::string> names;
        if (DIR* d = opendir((path + "/" + sub).c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.' || std::string(e->d_name).size() > 2)
                    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                        names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }
    std::string path;
};

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

// ---- Command line and program names ----------------------------------------------------------

TEST(StandaloneOptions, KnownOptionsAreTakenAndMistakesRefused) {
    const Options o = parsed({"--headless", "--no-connect", "--reset", "--program", "Birds"});
    EXPECT_TRUE(o.headless);
    EXPECT_FALSE(o.connect);
    EXPECT_TRUE(o.reset);
    EXPECT_EQ(o.program, "Birds");
    EXPECT_EQ(parsed({"--program=12"}).program, "12");
    EXPECT_TRUE(parsed({}).connect);
    parsed({"--program"}, false);
    parsed({"--program="}, false);
    parsed({"--bogus"}, false);
    parsed({"Birds"}, false);
}

TEST(StandalonePrograms, FoundByNumberOrNameAndTyposGetNearNames) {
    EXPECT_EQ(findProgram("0"), 0);
    EXPECT_EQ(findProgram("63"), 63);
    EXPECT_EQ(findProgram("64"), -1);
    EXPECT_EQ(findProgram("-1"), -1);
    EXPECT_EQ(findProgram("Birds"), 3);
    EXPECT_EQ(findProgram("  birds "), 3);
    EXPECT_EQ(findProgram("texture-4"), 12);
    EXPECT_EQ(findProgram(""), -1);
    EXPECT_EQ(findProgram("Bird"), -1);

    const auto near = nearPrograms("Bird");
    ASSERT_FALSE(near.empty());
    EXPECT_EQ(near.front(), "Birds");
    const auto rain = nearPrograms("rian");
    EXPECT_NE(std::find(rain.begin(), rain.end(), "Rain"), rain.end());
    EXPECT_LE(nearPrograms("texture").size(), 5u) << "a short list, however many match";
    EXPECT_TRUE(nearPrograms("qqqqqqqqqqqqqqqq").empty());
    EXPECT_TRUE(nearPrograms(std::string(1 << 20, 'x')).empty()) << "a huge text is safe";
}

// ---- The remembered sound --------------------------------------------------------------------

TEST(StandaloneState, RoundTripIsExactAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.path + "/deep/er/state";
    SavedSound sound;
    sound.program = 41;
    for (int32_t i = 0; i < kNumParams; ++i) sound.values[i] = 0.1f * static_cast<float>(i % 11);
    sound.values[3] = std::nextafter(0.3f, 1.0f);
    sound.values[4] = 1e-30f;
    std::string problem;
    ASSERT_TRUE(saveSound(path, sound, problem)) << problem;
    EXPECT_EQ(dir.entries("deep/er"), std::vector<std::string>{"state"});
    const std::string text = readFile(path);
    EXPECT_NE(text.find("\nlfo_freq 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nlfo_harm 0.1\n"), std::string::npos) << "the fewest digits";

    SavedSound back;
    ASSERT_EQ(loadSound(path, back, problem), LoadResult::loaded) << problem;
    EXPECT_EQ(back.program, 41);
    for (int32_t i = 0; i < kNumParams; ++i) EXPECT_EQ(back.values[i], sound.values[i]) << i;

    // Saving again replaces the file whole.
    sound.program = 2;
    ASSERT_TRUE(saveSound(path, sound, problem));
    ASSERT_EQ(loadSound(path, back, problem), LoadResult::loaded);
    EXPECT_EQ(back.program, 2);
    EXPECT_EQ(dir.entries("deep/er").size(), 1u);
}

TEST(StandaloneState, EveryTruncationAndDamageIsRefusedWithoutTouchingTheSound) {
    TempDir dir;
    const std::string path = dir.path + "/state";
    SavedSound sound;
    sound.program = 7;
    for (float& v : sound.values) v = 0.5f;
    std::string problem;
    ASSERT_TRUE(saveSound(path, sound, problem));
    const std::string good = readFile(path);

    SavedSound untouched;
    untouched.program = 13;
    const auto refused = [&](const std::string& text) {
        writeFile(path, text);
        SavedSound out = untouched;
        std::string why;
        const bool corrupt = loadSound(path, out, why) == LoadResult::corrupt;
        return corrupt && out.program == 13 && !why.empty();
    };
    // A cut anywhere that loses part of a value line or a whole line.
    for (std::size_t cut = 0; cut + 1 < good.size(); ++cut) {
        const std::string prefix = good.substr(0, cut);
        const std::size_t lastLine = prefix.rfind('\n');
        // A cut inside the last line's number may still read as a valid, different number
        // ("0.5" cut to "0."); every cut that drops a line must be refused.
        if (prefix.size() > 0 && lastLine != std::string::npos &&
            good.find('\n', lastLine + 1) == good.size() - 1)
            continue;
        EXPECT_TRUE(refused(prefix)) << "cut at " << cut;
    }
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    EXPECT_TRUE(refused(replaced("lfo_freq 0.5", "lfo_freq nan")));
    EXPECT_TRUE(refused(replaced("lfo_freq 0.5", "lfo_freq inf")));
    EXPECT_TRUE(refused(replaced("lfo_freq 0.5", "lfo_freq 1.5")));
    EXPECT_TRUE(refused(replaced("lfo_freq 0.5", "lfo_freq -0.1")));
    EXPECT_TRUE(refused(replaced("lfo_freq 0.5", "lfo_freq 0.5x")));
    EXPECT_TRUE(refused(replaced("lfo_freq 0.5", "lfo_freq")));
    EXPECT_TRUE(refused(replaced("lfo_freq 0.5", "lfo_harm 0.5")));
    EXPECT_TRUE(refused(replaced("lfo_freq 0.5", "volume 0.5")));
    EXPECT_TRUE(refused(replaced("program 7", "program 64")));
    EXPECT_TRUE(refused(replaced("program 7", "program -1")));
    EXPECT_TRUE(refused(replaced("program 7", "program Birds")));
    EXPECT_TRUE(refused(good + "program 7\n"));
    EXPECT_TRUE(refused(std::string("\x00\xff\xfe garbage\n", 13)));
    EXPECT_TRUE(refused(good + std::string(70 * 1024, '#')));
    EXPECT_TRUE(refused(""));

    // Comments, blank lines and Windows line ends are fine.
    writeFile(path, "# hand-edited\n\n" + replaced("lfo_freq 0.5", "lfo_freq 0.25"));
    SavedSound out;
    ASSERT_EQ(loadSound(path, out, problem), LoadResult::loaded) << problem;
    EXPECT_EQ(out.values[kLfoFreq], 0.25f);
    EXPECT_EQ(out.program, 7);

    EXPECT_EQ(loadSound(dir.path + "/none", out, problem), LoadResult::missing);
    EXPECT_EQ(loadSound(dir.path, out, problem), LoadResult::corrupt) << "a folder is no file";
}

TEST(StandaloneState, AnUnwritablePlaceIsReportedAndTheOldFileKept) {
    TempDir dir;
    writeFile(dir.path + "/blocker", "a file where the folder should be");
    SavedSound sound;
    std::string problem;
    EXPECT_FALSE(saveSound(dir.path + "/blocker/corvex/state", sound, problem));
    EXPECT_FALSE(problem.empty());
    EXPECT_FALSE(saveSound("", sound, problem));
    EXPECT_FALSE(saveSound("state", sound, problem)) << "no folder";
    sound.program = 1000;  // out of range: saved as the first program, never past the names
    ASSERT_TRUE(saveSound(dir.path + "/state", sound, problem));
    EXPECT_NE(readFile(dir.path + "/state").find("\nprogram 0 Aquatic\n"), std::string::npos);
    SavedSound back;
    EXPECT_EQ(loadSound(dir.path + "/state", back, problem), LoadResult::loaded);
    EXPECT_EQ(back.program, 0);
}

TEST(StandaloneState, PathFollowsXdgStateHomeThenHome) {
    const char* savedXdg = std::getenv("XDG_STATE_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string xdg = savedXdg ? savedXdg : "", home = savedHome ? savedHome : "";
    setenv("XDG_STATE_HOME", "/x/state", 1);
    EXPECT_EQ(statePath(), "/x/state/corvex/state");
    setenv("XDG_STATE_HOME", "relative", 1);
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(statePath(), "/home/u/.local/state/corvex/state") << "a relative path is ignored";
    unsetenv("XDG_STATE_HOME");
    unsetenv("HOME");
    EXPECT_EQ(statePath(), "");
    if (savedXdg) setenv("XDG_STATE_HOME", xdg.c_str(), 1);
    if (savedHome) setenv("HOME", home.c_str(), 1);
}

// ---- The piano keys --------------------------------------------------------------------------

TEST(StandaloneKeymap, RowsOctavesAndRange) {
    EXPECT_EQ(noteForKey(44, 0), 48);  // Z: C3
    EXPECT_EQ(noteForKey(31, 0), 49);  // S: C#3
    EXPECT_EQ(noteForKey(53, 0), 64);  // /: E4
    EXPECT_EQ(noteForKey(16, 0), 60);  // Q: C4
    EXPECT_EQ(noteForKey(3, 0), 61);   // 2: C#4
    EXPECT_EQ(noteForKey(25, 0), 76);  // P: E5
    EXPECT_EQ(noteForKey(44, 3), 84);
    EXPECT_EQ(noteForKey(44, -3), 12);
    EXPECT_EQ(noteForKey(44, 4), -1);
    EXPECT_EQ(noteForKey(kOctaveDownKey, 0), -1) << "the octave keys play nothing";
    EXPECT_EQ(noteForKey(kOctaveUpKey, 0), -1);
    EXPECT_EQ(noteForKey(57, 0), -1);  // space
    EXPECT_EQ(noteForKey(0xE04B, 0), -1);
}

// ---- The window ------------------------------------------------------------------------------

namespace {

struct Notes : NoteSink {
    void playNote(MidiMessage m) override {
        log.push_back((m.status == 0x90 ? "on " : "off ") + std::to_string(m.data1));
    }
    std::vector<std::string> log;
};

struct StandaloneWindowTest : ::testing::Test {
    void SetUp() override {
        platform::memory::reset();
        synth.setProgram(0);
        ASSERT_TRUE(window.open());
        system = window.editor().getFrame()->getSystemWindow();
        ASSERT_NE(system, nullptr);
        window.idle(0);
    }
    void TearDown() override {
        window.close();
        EXPECT_EQ(platform::memory::liveWindows(), 0);
    }
    void key(uint32_t scancode, bool down, bool repeat = false) {
        platform::KeyEvent k;
        k.scancode = scancode;
        k.repeat = repeat;
        platform::memory::postKey(system, k, down);
        window.idle(0);
    }
    void click(platform::Point p) {
        platform::memory::setPointer(p);
        platform::memory::setState(platform::kButtonLeft);
        platform::memory::postButtonDown(system, p, 1);
        window.idle(0);
        platform::memory::setState(0);
        window.idle(0);
    }
    std::string title() { return platform::memory::windowTitle(system); }

    CorvexSynth synth;
    Notes notes;
    StandaloneWindow window{synth, notes};
    platform::Window* system = nullptr;
    // The bar's buttons, as laid out under the 350-row editor.
    const platform::Point previous{20, 364}, name{200, 364}, next{420, 364};
};

}  // namespace

TEST_F(StandaloneWindowTest, EditorAreaIsThePluginEditorsPixelForPixel) {
    platform::Bitmap* ours = platform::memory::windowImage(system);
    ASSERT_EQ(platform::bitmapWidth(ours), 600);
    ASSERT_EQ(platform::bitmapHeight(ours), 350 + StandaloneWindow::kBarHeight);

    // The same editor, as the plug-in faces open it, with the same values.
    struct Plain : EditController, gui::CFrameOwner {
        float getParameter(int32_t i) override { return synth->getParameter(i); }
        void setParameterFromUser(int32_t, float) override {}
        void beginGesture(int32_t) override {}
        void endGesture(int32_t) override {}
        void resendValues() override {
            for (int32_t i = 0; i < kNumParams; ++i)
                window->setParameter(i, synth->getParameter(i));
        }
        void doIdleStuff() override {}
        uint32_t getTicks() override { return 0; }
        CorvexSynth* synth = nullptr;
        CorvexWindow* window = nullptr;
    } plain;
    CorvexWindow editor(plain, plain);
    plain.synth = &synth;
    plain.window = &editor;
    ASSERT_TRUE(editor.openTopLevel("plain"));
    editor.getFrame()->idle();
    platform::Bitmap* theirs = platform::memory::windowImage(editor.getFrame()->getSystemWindow());
    ASSERT_EQ(platform::bitmapHeight(theirs), 350);
    int32_t strideA = 0, strideB = 0;
    const uint32_t* a = platform::bitmapPixels(ours, &strideA);
    const uint32_t* b = platform::bitmapPixels(theirs, &strideB);
    int32_t differing = 0;
    for (int32_t y = 0; y < 350; ++y)
        for (int32_t x = 0; x < 600; ++x)
            differing += (a[y * strideA / 4 + x] & 0xFFFFFF) != (b[y * strideB / 4 + x] & 0xFFFFFF);
    EXPECT_EQ(differing, 0);
    editor.close();
}

TEST_F(StandaloneWindowTest, BarAndListChooseProgramsAndEverythingFollows) {
    EXPECT_EQ(title(), "Corvex \xE2\x80\x94 Aquatic");
    click(next);
    EXPECT_EQ(synth.getProgram(), 1);
    EXPECT_EQ(title(), "Corvex \xE2\x80\x94 Arpeggio");
    EXPECT_EQ(synth.getParameter(kAttack), factoryProgram(1).values[kAttack]);
    click(previous);
    click(previous);
    EXPECT_EQ(synth.getProgram(), 63) << "previous from the first wraps round";

    // The list: a click on the name opens it over the window, a click on a name chooses.
    click(name);
    ASSERT_NE(window.editor().getFrame()->getModalView(), nullptr);
    click({8 + 2 + 0, 8 + 3 * 21 + 5});  // column 0, row 3: Birds
    EXPECT_EQ(window.editor().getFrame()->getModalView(), nullptr);
    EXPECT_EQ(synth.getProgram(), 3);
    EXPECT_EQ(title(), "Corvex \xE2\x80\x94 Birds");
    // Escape, or a click beside the names, leaves the program as it was.
    click(name);
    platform::KeyEvent escape;
    escape.key = platform::Key::escape;
    escape.scancode = 1;
    platform::memory::postKey(system, escape, true);
    window.idle(0);
    EXPECT_EQ(window.editor().getFrame()->getModalView(), nullptr);
    EXPECT_EQ(synth.getProgram(), 3);

    // A program change from MIDI goes the same way; nonsense is ignored.
    window.selectProgram(12);
    EXPECT_EQ(title(), "Corvex \xE2\x80\x94 Texture-4");
    window.selectProgram(64);
    window.selectProgram(-1);
    EXPECT_EQ(synth.getProgram(), 12);
    EXPECT_TRUE(notes.log.empty()) << "no note came from any of this";
}

TEST_F(StandaloneWindowTest, KeyboardPlaysWithoutRetriggersAndReleasesOnFocusLoss) {
    key(44, true);        // Z
    key(44, true, true);  // its auto-repeat
    key(31, true);        // S
    key(44, false);
    key(31, false);
    EXPECT_EQ(notes.log, (std::vector<std::string>{"on 48", "on 49", "off 48", "off 49"}));

    notes.log.clear();
    key(kOctaveUpKey, true);
    key(kOctaveUpKey, false);
    key(16, true);  // Q, an octave up: C5
    key(kOctaveDownKey, true);
    key(16, false);  // released as the note it started
    EXPECT_EQ(window.octaveShift(), 0);
    key(kOctaveDownKey, false);
    key(kOctaveUpKey, true);
    key(kOctaveUpKey, true, true);
    key(kOctaveUpKey, false);
    EXPECT_EQ(window.octaveShift(), 1) << "the octave key's auto-repeat does nothing";
    for (int i = 0; i < 5; ++i) key(kOctaveUpKey, true), key(kOctaveUpKey, false);
    EXPECT_EQ(window.octaveShift(), 3) << "three octaves up at most";
    for (int i = 0; i < 8; ++i) key(kOctaveDownKey, true), key(kOctaveDownKey, false);
    EXPECT_EQ(window.octaveShift(), -3);
    EXPECT_EQ(notes.log, (std::vector<std::string>{"on 72", "off 72"}));

    notes.log.clear();
    key(44, true);
    key(25, true);  // P
    platform::memory::postFocusOut(system);
    window.idle(0);
    EXPECT_EQ(notes.log.size(), 4u);
    EXPECT_EQ(std::count(notes.log.begin(), notes.log.end(), "off 12"), 1);
    EXPECT_EQ(std::count(notes.log.begin(), notes.log.end(), "off 40"), 1);
    key(44, false);
    EXPECT_EQ(notes.log.size(), 4u) << "a release after the focus came back plays nothing";
}

TEST_F(StandaloneWindowTest, AReleaseAlwaysEndsItsNote) {
    // Control pressed while Z is held: Z's release still ends C3.
    key(44, true);
    platform::KeyEvent z;
    z.scancode = 44;
    z.modifiers = platform::kModControl;
    platform::memory::postKey(system, z, false);
    window.idle(0);
    // The list opened (by the mouse) while S is held: S's release still ends C#3.
    key(31, true);
    click(name);
    ASSERT_NE(window.editor().getFrame()->getModalView(), nullptr);
    key(31, false);
    key(44, true);  // the list takes presses
    EXPECT_EQ(notes.log, (std::vector<std::string>{"on 48", "off 48", "on 49", "off 49"}));
}

TEST_F(StandaloneWindowTest, NoNotesWhileAValueIsTypedAndCloseAsksToQuit) {
    // Click the first value field: its edit box takes the keys.
    click({240, 313});
    ASSERT_NE(platform::memory::editBoxOf(system), nullptr);
    key(44, true);
    key(44, false);
    EXPECT_TRUE(notes.log.empty());
    EXPECT_FALSE(window.quitRequested());
    platform::memory::postCloseRequest(system);
    window.idle(0);
    EXPECT_TRUE(window.quitRequested());
}

TEST(StandaloneWindowLight, MidiActivityLightsForAMoment) {
    platform::memory::reset();
    platform::memory::setTicks(1000);
    CorvexSynth synth;
    Notes notes;
    StandaloneWindow window(synth, notes);
    ASSERT_TRUE(window.open());
    window.idle(0);
    EXPECT_FALSE(window.lightOn());
    window.idle(5);
    EXPECT_TRUE(window.lightOn());
    platform::memory::setTicks(1100);
    window.idle(5);
    EXPECT_TRUE(window.lightOn());
    platform::memory::setTicks(1200);
    window.idle(5);
    EXPECT_FALSE(window.lightOn());
    window.close();
}
