// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the standalone's own logic without a JACK server or an X display: its command line and
// program names (near names for a typo, any text safe), the remembered sound (an exact round trip;
// every truncation and every kind of damage refused, never a crash; nothing left behind; learned
// controllers kept, a damaged learn line skipped without losing the rest), the piano key map, and
// its window on the in-memory window system: the editor's pixels untouched by the program bar, the
// bar and the program list choosing programs (title, knobs and synth follow), MIDI learn from a
// right-click (only on a parameter's controls; Escape and right-clicks cancel; the knob follows
// its controller; a bound knob offers to forget or learn again), the computer keyboard playing
// without auto-repeat retriggers, releasing what is held when the focus goes, and keeping quiet
// while a value is typed.
#include "core/synth.h"
#include "gui/textedit.h"
#include "platform/memory_window.h"
#include "standalone/app_window.h"
#include "standalone/keymap.h"
#include "standalone/midi_learn.h"
#include "standalone/options.h"
#include "standalone/period.h"
#include "standalone/state.h"
#include "window/corvex_window.h"
#include "window/knob_arc.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
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

TEST(StandaloneState, LearnedControllersRoundTripAndADamagedLearnLineIsSkippedAlone) {
    TempDir dir;
    const std::string path = dir.path + "/state";
    SavedSound sound;
    sound.program = 5;
    for (float& v : sound.values) v = 0.25f;
    sound.controllers[kLfoAmnt] = 74;
    sound.controllers[kAttack] = 0;
    sound.controllers[kRelease] = 127;
    sound.controllers[kDecay] = 123;    // never bound, so never written
    sound.controllers[kSustain] = 200;  // nor anything outside 0-127
    std::string problem;
    ASSERT_TRUE(saveSound(path, sound, problem)) << problem;
    const std::string good = readFile(path);
    EXPECT_NE(good.find("\nlearn 74 lfo_amnt\n"), std::string::npos) << good;
    SavedSound back;
    ASSERT_EQ(loadSound(path, back, problem), LoadResult::loaded) << problem;
    sound.controllers[kDecay] = sound.controllers[kSustain] = -1;
    for (int32_t i = 0; i < kNumParams; ++i) EXPECT_EQ(back.controllers[i], sound.controllers[i]);

    // Damaged learn lines among good ones, each naming a parameter of its own: each is skipped,
    // the sound and the good lines load.
    const std::string damaged =
        good +
        "learn\nlearn 5\nlearn 5 \nlearn 128 lfo_harm\nlearn -1 osc_harm\nlearn 123 lfo_shrp\n"
        "learn 126 lfo_cent\nlearn 9 volume\nlearn 10 lfo_ph extra\nlearn 0x9 osc_damp\n"
        "learn  11 decay\nlearn 9999999999999999999 sustain\nlearn 12 LFO_RAND\n"
        "learn 13 lfo_freq\r\n";
    writeFile(path, damaged);
    ASSERT_EQ(loadSound(path, back, problem), LoadResult::loaded) << problem;
    EXPECT_EQ(back.program, 5);
    EXPECT_EQ(back.values[kOscShap], 0.25f);
    for (int32_t i = 0; i < kNumParams; ++i) {
        const int32_t expected = i == kLfoFreq ? 13 : sound.controllers[i];
        EXPECT_EQ(back.controllers[i], expected) << kParamInfo[i].symbol;
    }

    // A later line wins on either side, as learning again would.
    writeFile(path, good + "learn 74 lfo_ph\nlearn 1 release\n");
    ASSERT_EQ(loadSound(path, back, problem), LoadResult::loaded) << problem;
    EXPECT_EQ(back.controllers[kLfoAmnt], -1);
    EXPECT_EQ(back.controllers[kLfoPh], 74);
    EXPECT_EQ(back.controllers[kRelease], 1);

    // A file from before MIDI learn: the sound, and no controller.
    std::string plain;
    for (std::size_t at = 0, end = 0; at < good.size(); at = end + 1) {
        end = good.find('\n', at);
        if (good.compare(at, 6, "learn ") != 0) plain += good.substr(at, end - at + 1);
    }
    writeFile(path, plain);
    back.controllers[0] = 3;
    ASSERT_EQ(loadSound(path, back, problem), LoadResult::loaded) << problem;
    for (int32_t c : back.controllers) EXPECT_EQ(c, -1);

    // The learn lines alone are read even beside a refused sound; nothing from no file.
    writeFile(path, "program 99\nlearn 74 lfo_amnt\nlfo_freq 7\nlearn 3 attack\n");
    SavedSound untouched;
    EXPECT_EQ(loadSound(path, untouched, problem), LoadResult::corrupt);
    EXPECT_EQ(untouched.controllers[kLfoAmnt], -1) << "a refused file changes nothing";
    int32_t controllers[kNumParams];
    loadControllers(path, controllers);
    EXPECT_EQ(controllers[kLfoAmnt], 74);
    EXPECT_EQ(controllers[kAttack], 3);
    EXPECT_EQ(controllers[kDecay], -1);
    loadControllers(dir.path + "/none", controllers);
    for (int32_t c : controllers) EXPECT_EQ(c, -1);
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
    void click(platform::Point p, int button = 1) {
        platform::memory::setPointer(p);
        platform::memory::setState(button == 1 ? platform::kButtonLeft : platform::kButtonRight);
        platform::memory::postButtonDown(system, p, button);
        window.idle(0);
        platform::memory::setState(0);
        window.idle(0);
    }
    void rightClick(platform::Point p) { click(p, 3); }
    void escape() {
        platform::KeyEvent k;
        k.key = platform::Key::escape;
        k.scancode = 1;
        platform::memory::postKey(system, k, true);
        platform::memory::postKey(system, k, false);
        window.idle(0);
    }
    // One period on a thread of its own, as the audio backend runs it, with one control change.
    void controller(uint8_t number, uint8_t value) {
        std::thread audio([&] {
            period.begin(64, 48000);
            const uint8_t bytes[] = {0xB5, number, value};
            period.midi(bytes, sizeof bytes, 10);
            float left[64], right[64];
            period.render(left, right);
        });
        audio.join();
    }
    std::string title() { return platform::memory::windowTitle(system); }
    std::string field(int32_t index) {
        char text[gui::kTextBufferSize] = {};
        window.editor().getTextField(index)->getText(text);
        return text;
    }

    CorvexSynth synth;
    Notes notes;
    MidiLearn learn;
    PeriodProcessor period{synth, learn};
    StandaloneWindow window{synth, notes, &learn};
    platform::Window* system = nullptr;
    // The bar's buttons, as laid out under the 350-row editor.
    const platform::Point previous{20, 364}, name{200, 364}, next{420, 364};
    // With a binding offered: its two buttons, and the binding's own text.
    const platform::Point forget{370, 364}, learnAgain{470, 364}, binding{100, 364};
    // LFO Amount's knob, value field and name; LFO Frequency's knob.
    const platform::Point amountKnob{419, 175}, amountField{419, 210}, amountName{419, 227};
    const platform::Point frequencyKnob{180, 70};
    const std::string learningAmount =
        "Learning LFO Amount: move a controller (Esc or right-click cancels)";
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
    // Both drawn whole, as their first exposure has them.
    platform::Window* plainSystem = editor.getFrame()->getSystemWindow();
    platform::memory::postPaint(plainSystem, {0, 0, 600, 350});
    editor.getFrame()->idle();
    platform::memory::postPaint(system, {0, 0, 600, 350 + StandaloneWindow::kBarHeight});
    window.idle(0);
    platform::Bitmap* theirs = platform::memory::windowImage(plainSystem);
    ASSERT_EQ(platform::bitmapHeight(theirs), 350);
    int32_t strideA = 0, strideB = 0;
    const uint32_t* a = platform::bitmapPixels(ours, &strideA);
    const uint32_t* b = platform::bitmapPixels(theirs, &strideB);
    EXPECT_EQ(a[10 * strideA + 10] & 0xFFFFFF, 0x00008Cu) << "the panel is drawn";
    int32_t differing = 0;
    for (int32_t y = 0; y < 350; ++y)
        for (int32_t x = 0; x < 600; ++x)
            differing += (a[y * strideA + x] & 0xFFFFFF) != (b[y * strideB + x] & 0xFFFFFF);
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

TEST_F(StandaloneWindowTest, RightClicksLearnCancelForgetAndLearnAgain) {
    // Only a parameter's knob, field or name arms learning; Escape, or any second right-click,
    // even on a knob, cancels it.
    rightClick({300, 20});
    EXPECT_EQ(window.learningParameter(), -1);
    rightClick(amountField);
    EXPECT_EQ(learn.armedParameter(), kLfoAmnt);
    EXPECT_EQ(window.barText(), learningAmount);
    escape();
    EXPECT_EQ(learn.armedParameter(), -1);
    EXPECT_EQ(window.barText(), "0   Aquatic");
    rightClick(amountName);
    rightClick(frequencyKnob);
    EXPECT_EQ(learn.armedParameter(), -1);
    // A left-click while learning is the editor's as ever.
    rightClick(amountKnob);
    click(amountField);
    EXPECT_NE(platform::memory::editBoxOf(system), nullptr);
    EXPECT_EQ(learn.armedParameter(), kLfoAmnt);

    // The controller moves the knob on the audio thread; the window shows it at its idle.
    period.setListener(&window);
    platform::memory::setTicks(1000);
    controller(74, 127);
    EXPECT_NE(field(kLfoAmnt), "1.000000") << "not before the idle";
    window.idle(0);
    EXPECT_EQ(field(kLfoAmnt), "1.000000");
    EXPECT_EQ(window.editor().getKnob(kLfoAmnt)->getValue(), 1.0f);
    EXPECT_EQ(window.barText(), "LFO Amount \u2190 CC 74");
    platform::memory::setTicks(1000 + StandaloneWindow::kNoticeMs);
    window.idle(0);
    EXPECT_EQ(window.barText(), "0   Aquatic") << "the notice gives way to the program";

    // Bound: a right-click offers instead of arming; a click beside its buttons leaves it.
    rightClick(amountKnob);
    EXPECT_EQ(learn.armedParameter(), -1);
    EXPECT_EQ(window.barText(), "LFO Amount is on CC 74 [Forget] [Learn again]");
    click(binding);
    EXPECT_EQ(window.offeredParameter(), -1);
    rightClick(amountKnob);
    click(learnAgain);
    EXPECT_EQ(window.barText(), learningAmount);
    controller(20, 64);
    window.idle(0);
    EXPECT_EQ(learn.controllerOf(kLfoAmnt), 20);
    EXPECT_EQ(learn.parameterOf(74), -1);
    rightClick(amountKnob);
    click(forget);
    EXPECT_EQ(learn.controllerOf(kLfoAmnt), -1);
    EXPECT_EQ(window.barText(), "LFO Amount: CC 20 forgotten");
    rightClick(amountKnob);
    window.close();
    EXPECT_EQ(learn.armedParameter(), -1) << "nothing stays armed behind a closed window";
    EXPECT_TRUE(notes.log.empty());
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

// The bar names what plays the sound, and the light turns red for a moment when it broke up.
TEST_F(StandaloneWindowTest, TheBarNamesTheAudioAndShowsWhenTheSoundBrokeUp) {
    const auto barPixels = [&] {
        platform::memory::postPaint(system, {0, 350, 600, 350 + StandaloneWindow::kBarHeight});
        window.idle(0, 0);
        platform::Bitmap* image = platform::memory::windowImage(system);
        int32_t stride = 0;
        const uint32_t* pixels = platform::bitmapPixels(image, &stride);
        std::vector<uint32_t> bar;
        for (int32_t y = 350; y < 350 + StandaloneWindow::kBarHeight; ++y)
            for (int32_t x = 440; x < 600; ++x) bar.push_back(pixels[y * stride + x] & 0xFFFFFF);
        return bar;
    };
    const std::vector<uint32_t> unnamed = barPixels();
    window.setAudioName("ALSA");
    EXPECT_NE(barPixels(), unnamed) << "the name is drawn between the buttons and the light";

    platform::memory::setTicks(5000);
    window.idle(0, 0);
    EXPECT_FALSE(window.troubleOn());
    window.idle(0, 1);
    EXPECT_TRUE(window.troubleOn());
    platform::memory::setTicks(5500);
    window.idle(0, 1);
    EXPECT_TRUE(window.troubleOn());
    platform::memory::setTicks(5700);
    window.idle(0, 1);
    EXPECT_FALSE(window.troubleOn()) << "a moment, not for good";
}
