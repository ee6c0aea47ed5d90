// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the standalone corvex as a person meets it, on a real X server (the private Xvfb) and a
// JACK server of the test's own (dummy backend): its window's editor area shows exactly the
// plug-in editor's pixels; XTest presses of Z and S play two notes (C3 and C#3: two onsets in the
// recording of a short, plucked sound) and holding Z past the auto-repeat delay plays it once;
// a click on "next program" changes the title and the values (as the state saved at quit shows);
// a knob drag changes the synth's value; closing the window quits with status 0; a MIDI program
// change chooses the program and the title follows; the desktop finds the window's class
// (corvex, Corvex: the desktop entry's) and its icon, while the plug-in editor keeps its own
// class; MIDI learn from a right-click binds the next controller, which moves the knob, its field
// and the sound, lets go when another knob learns it, and is remembered across a restart; an
// all-notes-off while learning still releases the note and is never learned. Without a JACK
// server, on ALSA (the tests' paced device, recorded by ALSA's file plug-in): a note held on Z
// and released starts and ends at the first frame of a period and is, whole, the core's render
// bit for bit.
#include "support/x11_environment.h"

#include "core/params.h"
#include "core/synth.h"
#include "hostkit/plugin.h"
#include "support/record_calls.h"
#include "testkit/x11_host.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace x11host = testkit::x11host;

namespace {

constexpr const char* kServer = CORVEX_JACK_SERVER;

void sleepMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

pid_t spawn(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        // Gone with the test, even when a timeout kills it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        // Quiet: the test reads what it needs from the state file and the X server.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// SIGTERM, then SIGKILL after two seconds; the exit status (-1 when it had to be killed).
int stop(pid_t pid, int signal = SIGTERM) {
    if (pid <= 0) return -1;
    kill(pid, signal);
    int status = 0;
    for (int i = 0; i < 40; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        sleepMs(50);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// Polls pred every 20 ms for up to ten seconds: true as soon as it holds.
template <typename Pred> bool waitFor(Pred pred) {
    for (int i = 0; i < 500; ++i) {
        if (pred()) return true;
        sleepMs(20);
    }
    return pred();
}

// Connects two JACK ports as soon as both exist (corvex registers its own after its window shows).
bool connectWhenReady(jack_client_t* client, const char* from, const char* to) {
    return waitFor([&] { return jack_connect(client, from, to) == 0; });
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The top-level windows' titles, read as a window manager reads them.
struct Desktop {
    Desktop() : d(XOpenDisplay(nullptr)) {}
    ~Desktop() {
        if (d) XCloseDisplay(d);
    }
    std::string title(::Window w) {
        if (!d) return {};
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string text;
        if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            data) {
            text.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
        }
        return text;
    }
    // The first top-level window whose title starts with "Corvex"; 0 when none.
    ::Window corvex() {
        if (!d) return 0;
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        ::Window found = 0;
        if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) {
            for (unsigned i = 0; i < n && !found; ++i)
                if (title(children[i]).rfind("Corvex", 0) == 0) found = children[i];
            if (children) XFree(children);
        }
        return found;
    }
    void focus(::Window w) {
        if (!d) return;
        XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
        XSync(d, False);
    }
    void closeRequest(::Window w) {
        if (!d) return;
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, w, False, NoEventMask, &e);
        XSync(d, False);
    }
    Display* d;
};

// Records Corvex:out_left from when it is started.
class Recorder {
public:
    bool open() {
        client = jack_client_open("x11-test-rec", JackNoStartServer, nullptr);
        if (!client) return false;
        port = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        samples.assign(static_cast<size_t>(jack_get_sample_rate(client)) * 12, 0.0f);
        jack_set_process_callback(client, &Recorder::process, this);
        return port && jack_activate(client) == 0 &&
               connectWhenReady(client, "Corvex:out_left", jack_port_name(port));
    }
    ~Recorder() {
        if (client) jack_client_close(client);
    }
    void start() { on = true; }
    void halt() { on = false; }
    uint32_t rate() const { return jack_get_sample_rate(client); }
    // Starts of sound after at least 10 ms of silence (or at the beginning).
    int onsets() const {
        const size_t n = count.load();
        const size_t quiet = rate() / 100;
        size_t silent = quiet;
        int found = 0;
        for (size_t i = 0; i < n; ++i) {
            const float a = std::fabs(samples[i]);
            if (a < 1e-6f) ++silent;
            else if (a > 1e-4f) {
                if (silent >= quiet) ++found;
                silent = 0;
            }
        }
        return found;
    }
    size_t frames() const { return count.load(); }
    // The largest magnitude recorded so far.
    float peak() const {
        const size_t n = count.load();
        float p = 0.0f;
        for (size_t i = 0; i < n; ++i) p = std::max(p, std::fabs(samples[i]));
        return p;
    }
    // How many of the last frames recorded are silent.
    size_t silentTail() const {
        size_t n = count.load(), quiet = 0;
        while (n > 0 && std::fabs(samples[n - 1]) < 1e-6f) --n, ++quiet;
        return quiet;
    }

private:
    static int process(jack_nframes_t n, void* self) {
        auto* r = static_cast<Recorder*>(self);
        if (!r->on.load()) return 0;
        const auto* in = static_cast<const float*>(jack_port_get_buffer(r->port, n));
        const size_t done = r->count.load();
        for (jack_nframes_t i = 0; i < n && done + i < r->samples.size(); ++i)
            r->samples[done + i] = in[i];
        r->count = std::min(r->samples.size(), done + n);
        return 0;
    }
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    std::vector<float> samples;
    std::atomic<size_t> count{0};
    std::atomic<bool> on{false};
};

// Sends single MIDI messages into Corvex:midi_in, as a keyboard would.
class MidiSender {
public:
    bool open() {
        client = jack_client_open("x11-test-midi", JackNoStartServer, nullptr);
        if (!client) return false;
        port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client, &MidiSender::process, this);
        return port && jack_activate(client) == 0 &&
               connectWhenReady(client, jack_port_name(port), "Corvex:midi_in");
    }
    ~MidiSender() {
        if (client) jack_client_close(client);
    }
    // A two-byte message, sent in the next period the port is connected in.
    void send(uint8_t status, uint8_t data) { put({status, data, 0}, 2); }
    // A three-byte message (a note, a control change), the same way.
    void send(uint8_t status, uint8_t data1, uint8_t data2) { put({status, data1, data2}, 3); }

private:
    // Waits until the message before has gone out, so that none replaces another.
    void put(std::array<unsigned char, 3> message, size_t length) {
        waitFor([&] { return !pending.load(); });
        bytes = message;
        size = length;
        pending = true;
    }
    static int process(jack_nframes_t n, void* self) {
        auto* m = static_cast<MidiSender*>(self);
        void* buffer = jack_port_get_buffer(m->port, n);
        jack_midi_clear_buffer(buffer);
        // A connection counts from the server's next period on: a message put out in the period
        // jack_connect returned in would reach no one.
        if (m->pending.load() && jack_port_connected(m->port) > 0) {
            jack_midi_event_write(buffer, 0, m->bytes.data(), m->size);
            m->pending = false;
        }
        return 0;
    }
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    std::array<unsigned char, 3> bytes = {};
    size_t size = 0;
    std::atomic<bool> pending{false};
};

class StandaloneX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("command -v jackd >/dev/null") != 0) return;
        setenv("JACK_DEFAULT_SERVER", kServer, 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        server = spawn(
            {"jackd", "--no-realtime", "-n", kServer, "-d", "dummy", "-r", "48000", "-p", "256"});
        for (int i = 0; i < 50; ++i) {
            if (jack_client_t* c = jack_client_open("x11-test-probe", JackNoStartServer, nullptr)) {
                jack_client_close(c);
                return;
            }
            sleepMs(100);
        }
    }
    static void TearDownTestSuite() {
        stop(server);
        server = 0;
        // The semaphores a killed server leaves behind.
        std::error_code ignored;
        const std::string marker = std::string("_") + CORVEX_JACK_SERVER + "_";
        for (const auto& e : std::filesystem::directory_iterator("/dev/shm", ignored)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("jack_sem.", 0) == 0 && name.find(marker) != std::string::npos)
                std::filesystem::remove(e.path(), ignored);
        }
    }
    void SetUp() override {
        if (server <= 0) GTEST_SKIP() << "no jackd";
        char pattern[] = "/tmp/corvex-x11-XXXXXX";
        stateHome = mkdtemp(pattern);
        setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
    }
    void TearDown() override {
        stop(corvex);
        std::error_code ignored;
        std::filesystem::remove_all(stateHome, ignored);
    }
    // Starts corvex and waits for its window and its ports.
    void start(std::vector<std::string> args) {
        args.insert(args.begin(), CORVEX_STANDALONE);
        corvex = spawn(args);
        for (int i = 0; i < 100 && !(window = desktop.corvex()); ++i) sleepMs(50);
        ASSERT_NE(window, 0u) << "no window";
        // Painted: the editor's panel colour at (10, 10).
        std::vector<uint32_t> px;
        int32_t w = 0, h = 0;
        for (int i = 0; i < 100; ++i) {
            if (x11host::readPixels(window, &px, &w, &h) && w == 600 &&
                px[10 * 600 + 10] == 0x00008Cu)
                break;
            sleepMs(50);
        }
    }
    bool waitTitle(const std::string& want) {
        for (int i = 0; i < 100; ++i) {
            if (desktop.title(window) == want) return true;
            sleepMs(30);
        }
        return false;
    }
    void click(int32_t x, int32_t y) {
        const platform::Rect r = x11host::screenRect(window);
        x11host::movePointer(r.left + x, r.top + y);
        sleepMs(60);
        x11host::button(1, true);
        sleepMs(60);
        x11host::button(1, false);
        sleepMs(200);
    }
    void rightClick(platform::Point at) {
        const platform::Rect r = x11host::screenRect(window);
        x11host::movePointer(r.left + at.x, r.top + at.y);
        x11host::button(3, true);
        x11host::button(3, false);
    }
    // The window's pixels inside r (0x00RRGGBB, row by row); empty when unreadable.
    std::vector<uint32_t> pixels(const platform::Rect& r) {
        std::vector<uint32_t> all, part;
        int32_t w = 0, h = 0;
        if (!x11host::readPixels(window, &all, &w, &h) || r.right > w || r.bottom > h) return part;
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x) part.push_back(all[y * w + x]);
        return part;
    }
    // The bar shows MIDI learn waiting: its message box's yellow, at its right end.
    bool learning() {
        const std::vector<uint32_t> p = pixels({520, 356, 521, 357});
        return !p.empty() && p[0] == 0xF0FA00u;
    }
    // Writes a sound to remember: program 0, with changes.
    void remember(const std::vector<std::pair<int32_t, float>>& changes) {
        std::string text = "program 0\n";
        for (int32_t i = 0; i < kNumParams; ++i) {
            float v = factoryProgram(0).values[i];
            for (const auto& [index, value] : changes)
                if (index == i) v = value;
            text += std::string(kParamInfo[i].symbol) + " " + std::to_string(v) + "\n";
        }
        std::filesystem::create_directories(stateHome + "/corvex");
        std::ofstream(stateHome + "/corvex/state") << text;
    }
    // Asks corvex to quit as a session manager would and waits for it.
    int quit() {
        const int status = stop(corvex);
        corvex = 0;
        return status;
    }
    std::string state() const { return readFile(stateHome + "/corvex/state"); }
    static std::string valueLine(int32_t index, float value) {
        char text[64];
        std::snprintf(text, sizeof text, "\n%s %g\n", kParamInfo[index].symbol,
                      static_cast<double>(value));
        return text;
    }

    // Where the editor puts a view of w x h centred at fractions of its 600 x 350 (the products
    // in double precision, truncated), as corvex_window.cpp lays them out.
    static platform::Rect placed(int32_t w, int32_t h, float fx, float fy) {
        const auto cx = static_cast<int32_t>(static_cast<double>(fx) * 600);
        const auto cy = static_cast<int32_t>(static_cast<double>(fy) * 350);
        return {cx - w / 2, cy - h / 2, cx - w / 2 + w, cy - h / 2 + h};
    }
    static platform::Point centre(const platform::Rect& r) {
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    // LFO Amount's and LFO Center's knobs (both LFO arcs), and the value fields of LFO Amount, LFO
    // Frequency and Sustain.
    const platform::Rect amountKnob = placed(60, 60, 0.7f, 0.5f);
    const platform::Rect centerKnob = placed(60, 60, 0.5f, 0.5f);
    const platform::Rect frequencyKnob = placed(60, 60, 0.3f, 0.2f);
    const platform::Rect amountField = placed(85, 12, 0.7f, 0.6f);
    const platform::Rect frequencyField = placed(85, 12, 0.3f, 0.3f);
    const platform::Rect sustainField = placed(85, 12, 0.6f, 0.9f);

    static inline pid_t server = 0;
    pid_t corvex = 0;
    ::Window window = 0;
    Desktop desktop;
    std::string stateHome;
};

}  // namespace

TEST_F(StandaloneX11, EditorAreaIsThePluginEditorsPixelForPixel) {
    start({"--reset", "--no-connect", "--program", "0"});
    if (HasFatalFailure()) return;
    EXPECT_EQ(desktop.title(window), "Corvex \xE2\x80\x94 Aquatic");
    std::vector<uint32_t> ours;
    int32_t w = 0, h = 0;
    ASSERT_TRUE(x11host::readPixels(window, &ours, &w, &h));
    ASSERT_EQ(w, 600);
    ASSERT_EQ(h, 378) << "the editor and the program bar under it";
    // README's picture (docs/standalone.png) is taken here, before another window covers it.
    if (const char* shot = std::getenv("CORVEX_STANDALONE_SCREENSHOT"))
        x11host::screenshot(window, shot);

    // The VST2 editor of a new instance (program 0) in a host window.
    hostkit::Library vst2{CORVEX_PLUGIN_PATH};
    AEffect* effect = vst2.entry()(&hostkit::versionOnlyHost);
    ASSERT_NE(effect, nullptr);
    dispatch(effect, effOpen);
    x11host::HostWindow* host = x11host::create(600, 350, "vst2 editor");
    ASSERT_NE(host, nullptr);
    ASSERT_EQ(dispatch(effect, effEditOpen, 0, 0, reinterpret_cast<void*>(x11host::handle(host))),
              1);
    for (int i = 0; i < 10; ++i) {
        dispatch(effect, effEditIdle);
        x11host::pump(host);
        sleepMs(40);
    }
    std::vector<uint32_t> theirs;
    int32_t tw = 0, th = 0;
    const bool read = x11host::readPixels(x11host::handle(host), &theirs, &tw, &th);
    // Its window keeps the module's own class: only the application's window is "Corvex".
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    XClassHint hint{};
    if (XQueryTree(desktop.d, static_cast<::Window>(x11host::handle(host)), &root, &parent,
                   &children, &n) &&
        n == 1 && XGetClassHint(desktop.d, children[0], &hint)) {
        EXPECT_EQ(std::string(hint.res_class).rfind("Plugin", 0), 0u) << hint.res_class;
        XFree(hint.res_name);
        XFree(hint.res_class);
    } else {
        ADD_FAILURE() << "no editor window in the host's";
    }
    if (children) XFree(children);
    dispatch(effect, effEditClose);
    dispatch(effect, effClose);
    x11host::destroy(host);
    ASSERT_TRUE(read);
    ASSERT_EQ(tw, 600);
    ASSERT_EQ(th, 350);
    size_t differing = 0;
    for (size_t i = 0; i < theirs.size(); ++i) differing += theirs[i] != ours[i];
    EXPECT_EQ(differing, 0u);
}

TEST_F(StandaloneX11, ComputerKeysPlayNotesAndAutoRepeatDoesNotRetrigger) {
    // A plucked sound: it falls silent 0.1 s into a held note, so a retrigger would be heard.
    remember({{kAttack, 0.002f}, {kDecay, 0.1f}, {kSustain, 0.0f}, {kRelease, 0.02f}});
    start({"--no-connect"});
    if (HasFatalFailure()) return;
    Recorder recorder;
    ASSERT_TRUE(recorder.open());
    const platform::Rect r = x11host::screenRect(window);
    x11host::movePointer(r.left + 300, r.top + 20);
    desktop.focus(window);
    sleepMs(200);
    recorder.start();
    sleepMs(100);
    // Each step waits for what it should cause, so a busy machine only makes it slower.
    const auto waitOnsets = [&](int n) {
        for (int i = 0; i < 150 && recorder.onsets() < n; ++i) sleepMs(20);
        return recorder.onsets();
    };
    x11host::key("z", true);
    EXPECT_EQ(waitOnsets(1), 1) << "Z plays";
    sleepMs(1500);  // well past the server's auto-repeat delay (660 ms)
    x11host::key("z", false);
    sleepMs(300);
    x11host::key("s", true);
    EXPECT_GE(waitOnsets(2), 2) << "S plays";
    sleepMs(300);
    x11host::key("s", false);
    sleepMs(300);
    recorder.halt();
    EXPECT_EQ(recorder.onsets(), 2) << "one for Z (however long held), one for S";
}

TEST_F(StandaloneX11, NextProgramKnobDragAndCloseReachTheSynth) {
    start({"--reset", "--no-connect", "--program", "0"});
    if (HasFatalFailure()) return;
    click(420, 364);  // the bar's ">"
    EXPECT_TRUE(waitTitle("Corvex \xE2\x80\x94 Arpeggio"));

    // Drag "LFO Amount" (its knob centred at 419, 175) half a turn.
    const platform::Rect r = x11host::screenRect(window);
    const int32_t cx = r.left + 419, cy = r.top + 175;
    x11host::movePointer(cx - 25, cy + 10);
    sleepMs(100);
    x11host::button(1, true);
    for (int step = 0; step <= 20; ++step) {
        const double a = 3.141592653589793 * (1.0 - step / 20.0);
        x11host::movePointer(cx + static_cast<int32_t>(25 * std::cos(a)),
                             cy - static_cast<int32_t>(25 * std::sin(a)));
        sleepMs(20);
    }
    x11host::button(1, false);
    sleepMs(300);

    desktop.closeRequest(window);
    int status = -1;
    for (int i = 0; i < 40; ++i) {
        int raw = 0;
        if (waitpid(corvex, &raw, WNOHANG) == corvex) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -2;
            corvex = 0;
            break;
        }
        sleepMs(50);
    }
    EXPECT_EQ(status, 0) << "closing the window quits";
    const std::string saved = state();
    EXPECT_NE(saved.find("\nprogram 1 Arpeggio\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find(valueLine(kAttack, factoryProgram(1).values[kAttack])), std::string::npos)
        << "the next program's values" << saved;
    EXPECT_EQ(saved.find(valueLine(kLfoAmnt, factoryProgram(1).values[kLfoAmnt])),
              std::string::npos)
        << "the drag changed LFO Amount" << saved;
}

TEST_F(StandaloneX11, MidiProgramChangesChooseProgramsAndTheTitleFollows) {
    start({"--reset", "--no-connect", "--program", "0"});
    if (HasFatalFailure()) return;
    MidiSender keyboard;
    ASSERT_TRUE(keyboard.open());
    keyboard.send(0xC3, 5);  // any channel
    EXPECT_TRUE(waitTitle("Corvex \xE2\x80\x94 Chimes-2"));
    keyboard.send(0xC0, 100);  // beyond the bank: ignored
    sleepMs(300);
    EXPECT_EQ(desktop.title(window), "Corvex \xE2\x80\x94 Chimes-2");
    EXPECT_EQ(stop(corvex), 0);
    corvex = 0;
    EXPECT_NE(state().find("\nprogram 5 Chimes-2\n"), std::string::npos) << state();
}

TEST_F(StandaloneX11, DesktopKnowsTheWindowAsCorvexByItsClassAndIcon) {
    start({"--reset", "--no-connect"});
    if (HasFatalFailure()) return;
    Display* d = desktop.d;
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(d, window, &hint));
    EXPECT_STREQ(hint.res_name, "corvex");
    EXPECT_STREQ(hint.res_class, "Corvex");
    XFree(hint.res_name);
    XFree(hint.res_class);

    // _NET_WM_ICON: width, height and ARGB pixels per icon, each number a CARDINAL (which Xlib
    // hands back in a long, sign-extended: the low 32 bits are the number).
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(d, window, XInternAtom(d, "_NET_WM_ICON", False), 0, 1 << 20,
                                 False, XA_CARDINAL, &type, &format, &count, &after, &data),
              Success);
    ASSERT_NE(data, nullptr) << "no icon";
    std::vector<uint32_t> icon;
    for (unsigned long i = 0; i < count; ++i)
        icon.push_back(static_cast<uint32_t>(reinterpret_cast<unsigned long*>(data)[i]));
    XFree(data);
    EXPECT_EQ(format, 32);
    EXPECT_EQ(after, 0u);
    std::vector<uint32_t> sides;
    for (size_t at = 0; at + 2 <= icon.size(); at += 2 + size_t{icon[at]} * icon[at + 1]) {
        const uint32_t w = icon[at], h = icon[at + 1];
        ASSERT_EQ(w, h);
        ASSERT_LE(at + 2 + size_t{w} * h, icon.size());
        const uint32_t* p = icon.data() + at + 2;
        sides.push_back(w);
        // Opaque, with each channel where it belongs: the navy border in the corner, the panel
        // inside it.
        EXPECT_EQ(static_cast<uint32_t>(std::count_if(
                      p, p + size_t{w} * h, [](uint32_t px) { return px >> 24 == 0xFF; })),
                  w * h);
        EXPECT_EQ(p[0], 0xFF00005Au) << w;
        EXPECT_EQ(p[(w / 10) * w + w / 10], 0xFF00008Cu) << w;
    }
    EXPECT_EQ(sides, (std::vector<uint32_t>{48, 128}));
}

TEST_F(StandaloneX11, MidiLearnBindsMovesLetsGoAndIsRememberedAcrossARestart) {
    // Sustain and LFO Center at 1: their field and knob show what a value of 1 looks like.
    remember({{kLfoAmnt, 0.25f}, {kLfoFreq, 0.25f}, {kLfoCent, 1.0f}, {kSustain, 1.0f}});
    start({"--no-connect"});
    if (HasFatalFailure()) return;
    ASSERT_NE(pixels(amountField), pixels(sustainField));
    ASSERT_NE(pixels(amountKnob), pixels(centerKnob));
    {
        MidiSender keyboard;
        ASSERT_TRUE(keyboard.open());
        rightClick(centre(amountKnob));
        ASSERT_TRUE(waitFor([&] { return learning(); })) << "the bar says it is learning";
        keyboard.send(0xB5, 74, 127);  // any channel
        EXPECT_TRUE(waitFor([&] { return pixels(amountField) == pixels(sustainField); }))
            << "LFO Amount's field reads 1.000000";
        EXPECT_TRUE(waitFor([&] { return pixels(amountKnob) == pixels(centerKnob); }))
            << "its knob is turned fully";
        EXPECT_TRUE(waitFor([&] { return !learning(); }));

        // Learned by LFO Frequency, controller 74 lets go of LFO Amount.
        rightClick(centre(frequencyKnob));
        ASSERT_TRUE(waitFor([&] { return learning(); }));
        keyboard.send(0xB0, 74, 127);
        EXPECT_TRUE(waitFor([&] { return pixels(frequencyField) == pixels(sustainField); }));
        keyboard.send(0xB0, 74, 0);
        EXPECT_TRUE(waitFor([&] { return pixels(frequencyField) != pixels(sustainField); }));
        EXPECT_EQ(pixels(amountField), pixels(sustainField)) << "LFO Amount stays at 1";
    }
    EXPECT_EQ(quit(), 0);
    std::string saved = state();
    EXPECT_NE(saved.find("\nlfo_amnt 1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\nlfo_freq 0\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\nlearn 74 lfo_freq\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("lfo_amnt\n", saved.find("\nlearn ")), std::string::npos) << saved;

    // A new run moves LFO Frequency with the controller at once, --reset or not.
    start({"--reset", "--no-connect", "--program", "0"});
    if (HasFatalFailure()) return;
    {
        MidiSender keyboard;
        ASSERT_TRUE(keyboard.open());
        const std::vector<uint32_t> before = pixels(frequencyField);
        keyboard.send(0xB0, 74, 127);
        EXPECT_TRUE(waitFor([&] { return pixels(frequencyField) != before; }));
    }
    EXPECT_EQ(quit(), 0);
    saved = state();
    EXPECT_NE(saved.find("\nlfo_freq 1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\nlearn 74 lfo_freq\n"), std::string::npos) << saved;
}

TEST_F(StandaloneX11, AllNotesOffWhileLearningStillReleasesAndIsNeverLearned) {
    // A held note sounds on: full sustain, a short release.
    remember({{kAttack, 0.002f}, {kSustain, 1.0f}, {kRelease, 0.02f}, {kLfoCent, 1.0f}});
    start({"--no-connect"});
    if (HasFatalFailure()) return;
    Recorder recorder;
    ASSERT_TRUE(recorder.open());
    MidiSender keyboard;
    ASSERT_TRUE(keyboard.open());
    recorder.start();
    keyboard.send(0x90, 60, 100);
    ASSERT_TRUE(waitFor([&] { return recorder.peak() > 1e-3f; })) << "the note sounds";

    rightClick(centre(amountKnob));
    ASSERT_TRUE(waitFor([&] { return learning(); }));
    keyboard.send(0xB0, 123, 0);
    EXPECT_TRUE(waitFor([&] { return recorder.silentTail() >= recorder.rate() / 10; }))
        << "all-notes-off released the note";
    EXPECT_TRUE(learning()) << "and learning still waits";
    keyboard.send(0xB0, 1, 127);
    EXPECT_TRUE(waitFor([&] { return pixels(amountKnob) == pixels(centerKnob); }))
        << "the next controller is learned and turns the knob";
    recorder.halt();
    EXPECT_EQ(quit(), 0);
    const std::string saved = state();
    EXPECT_NE(saved.find("\nlearn 1 lfo_amnt\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("learn 123"), std::string::npos) << saved;
}

namespace {

// Waits up to twenty seconds for pred, polling every 20 ms: long enough for a loaded machine, whose
// slowness must never read as a fault.
template <typename Pred> bool waitLong(Pred pred) {
    for (int i = 0; i < 1000; ++i) {
        if (pred()) return true;
        sleepMs(20);
    }
    return pred();
}

// What ALSA's file plug-in has recorded so far: raw interleaved stereo float, read as it grows.
class RawRecording {
public:
    explicit RawRecording(std::string path) : path(std::move(path)) {}
    // Reads what was appended since the last call, in whole frames.
    void update() {
        std::ifstream in(path, std::ios::binary);
        if (!in) return;
        in.seekg(0, std::ios::end);
        const auto size = static_cast<std::size_t>(in.tellg());
        const std::size_t have = samples.size() * sizeof(float);
        const std::size_t whole = size / kFrameBytes * kFrameBytes;
        if (whole <= have) return;
        samples.resize(whole / sizeof(float));
        in.seekg(static_cast<std::streamoff>(have));
        in.read(reinterpret_cast<char*>(samples.data() + have / sizeof(float)),
                static_cast<std::streamsize>(whole - have));
        if (!in) samples.resize(have / sizeof(float));
    }
    std::size_t frames() const { return samples.size() / 2; }
    bool silent(std::size_t frame) const {
        return samples[2 * frame] == 0.0f && samples[2 * frame + 1] == 0.0f;
    }
    // The first frame with sound from frame on; frames() when none.
    std::size_t firstSound(std::size_t from = 0) const {
        std::size_t f = from;
        while (f < frames() && silent(f)) ++f;
        return f;
    }
    // How many of the last frames are silent.
    std::size_t silentTail() const {
        std::size_t n = frames(), quiet = 0;
        while (n > 0 && silent(n - 1)) --n, ++quiet;
        return quiet;
    }
    std::vector<float> samples;

private:
    static constexpr std::size_t kFrameBytes = 2 * sizeof(float);
    std::string path;
};

constexpr std::size_t kNoFrame = static_cast<std::size_t>(-1);

// The core's render of program 0 as corvex plays it through ALSA: set up as its engine sets it up,
// then period by period with the keyboard's note-on (and its note-off, unless kNoFrame) at the
// first frame of the periods given. Interleaved stereo, frames long.
std::vector<float> coreRender(uint32_t rate, int32_t period, std::size_t frames, uint8_t note,
                              std::size_t onAt, std::size_t offAt) {
    auto synth = std::make_unique<CorvexSynth>();
    synth->setProgram(0);
    synth->setSampleRate(static_cast<float>(rate));
    synth->setBlockSize(period);
    synth->reset();
    const auto length = static_cast<std::size_t>(period);
    std::vector<float> left(length), right(length), out;
    out.reserve(2 * (frames + length));
    for (std::size_t start = 0; start < frames; start += length) {
        synth->setBlockSize(period);
        if (start == onAt) {
            const uint8_t on[3] = {0x90, note, 100};
            synth->midi(on, sizeof on, 0, period);
        }
        if (start == offAt) {
            const uint8_t off[3] = {0x80, note, 0};
            synth->midi(off, sizeof off, 0, period);
        }
        synth->render(left.data(), right.data(), period);
        for (std::size_t k = 0; k < length; ++k) {
            out.push_back(left[k]);
            out.push_back(right[k]);
        }
    }
    out.resize(2 * frames);
    return out;
}

// The first frame where a and b differ in any bit of either channel; kNoFrame when none.
std::size_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return i / 2;
    return kNoFrame;
}

}  // namespace

// corvex on ALSA without a JACK server, its default device the tests' paced one
// (tests/support/alsa_paced_pcm.cpp: real time, no sound card) behind ALSA's file plug-in, which
// records everything corvex writes, in order, whatever the pace.
class StandaloneAlsaX11 : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef CORVEX_ALSA_PACED_PCM
        GTEST_SKIP() << "built without ALSA: the paced test device was not built";
#else
        void* module = dlopen(CORVEX_ALSA_PACED_PCM, RTLD_NOW | RTLD_LOCAL);
        const bool loads = module && dlsym(module, "_snd_pcm_corvex_paced_open");
        const std::string why = module ? "it has no entry" : dlerror();
        if (module) dlclose(module);
        if (!loads)
            GTEST_SKIP() << "the paced ALSA test device cannot be loaded here ("
                         << CORVEX_ALSA_PACED_PCM << ": " << why << ")";
        char pattern[] = "/tmp/corvex-x11-alsa-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
        std::ofstream(work + "/asound.conf")
            << "</usr/share/alsa/alsa.conf>\n"
            << "pcm_type.corvex_paced { lib \"" CORVEX_ALSA_PACED_PCM "\" }\n"
            << "pcm.!default { type file slave.pcm { type corvex_paced } file \"" << work
            << "/out.raw\" format \"raw\" }\n";
#endif
    }
    void TearDown() override {
        stop(corvex);
        std::error_code ignored;
        if (!work.empty()) std::filesystem::remove_all(work, ignored);
    }
    // Starts corvex with its output in files and its environment the test's own.
    void start(const std::vector<std::string>& options) {
        std::vector<std::string> args = {CORVEX_STANDALONE};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<std::string> env;
        const auto ours = [](const std::string& entry) {
            for (const char* name :
                 {"ALSA_CONFIG_PATH=", "JACK_DEFAULT_SERVER=", "XDG_STATE_HOME="})
                if (entry.rfind(name, 0) == 0) return true;
            return false;
        };
        for (char** e = environ; *e; ++e)
            if (!ours(*e)) env.push_back(*e);
        env.push_back("ALSA_CONFIG_PATH=" + work + "/asound.conf");
        // A name no server has: were JACK tried, none would answer.
        env.push_back("JACK_DEFAULT_SERVER=corvex-none-" + std::to_string(getpid()));
        env.push_back("XDG_STATE_HOME=" + work + "/state");
        std::vector<char*> argv, envp;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::string out = work + "/corvex.out", err = work + "/corvex.err";
        corvex = fork();
        if (corvex == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o >= 0) dup2(o, STDOUT_FILENO);
            if (e >= 0) dup2(e, STDERR_FILENO);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        ASSERT_GT(corvex, 0);
    }
    // False once corvex has ended; its exit status is then in status (-1: killed by a signal).
    bool running() {
        if (corvex <= 0) return false;
        int raw = 0;
        if (waitpid(corvex, &raw, WNOHANG) != corvex) return true;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        corvex = 0;
        return false;
    }
    std::string said() const {
        return "\n--- corvex stdout:\n" + readFile(work + "/corvex.out") + "--- corvex stderr:\n" +
               readFile(work + "/corvex.err");
    }
    bool viewable(::Window w) {
        XWindowAttributes a{};
        return XGetWindowAttributes(desktop.d, w, &a) && a.map_state == IsViewable;
    }
    bool focused(::Window w) {
        ::Window f = 0;
        int revert = 0;
        XGetInputFocus(desktop.d, &f, &revert);
        return f == w;
    }

    pid_t corvex = 0;
    int status = -1;
    std::string work;
    Desktop desktop;
};

TEST_F(StandaloneAlsaX11, AComputerKeysNoteOnAlsaIsTheCoresRenderBitForBit) {
    ASSERT_NE(desktop.d, nullptr) << "no X display";
    start({"--audio", "alsa", "--reset", "--program", "0", "--no-connect"});
    if (HasFatalFailure()) return;
    // The start line gives the rate and the period the device settled on.
    uint32_t rate = 0, period = 0, periods = 0;
    ASSERT_TRUE(waitLong([&] {
        const std::string out = readFile(work + "/corvex.out");
        const std::size_t at = out.find("corvex: ALSA default at ");
        return at != std::string::npos && out.find('\n', at) != std::string::npos &&
               std::sscanf(out.c_str() + at,
                           "corvex: ALSA default at %u Hz, %u frames a period (%u periods)", &rate,
                           &period, &periods) == 3;
    })) << "no start line"
        << said();
    ASSERT_GT(rate, 0u);
    ASSERT_GT(period, 0u);
    ::Window window = 0;
    ASSERT_TRUE(waitLong([&] { return (window = desktop.corvex()) != 0 && viewable(window); }))
        << "no window shown" << said();

    // Focus, given again until the server says the window has it.
    const platform::Rect r = x11host::screenRect(window);
    x11host::movePointer(r.left + 300, r.top + 20);
    ASSERT_TRUE(waitLong([&] {
        desktop.focus(window);
        return focused(window);
    })) << "the window never took the focus";

    RawRecording recording(work + "/out.raw");
    const uint8_t note = 48;  // Z: C3
    x11host::key("z", true);
    // Held until a tenth of a second of the note is recorded.
    const bool sounded = waitLong([&] {
        recording.update();
        const std::size_t onset = recording.firstSound();
        return onset < recording.frames() && recording.frames() - onset >= rate / 10;
    });
    x11host::key("z", false);
    ASSERT_TRUE(sounded) << "no note recorded while Z was held" << said();
    // Released, the note falls silent: a tenth of a second of silence after it.
    ASSERT_TRUE(waitLong([&] {
        recording.update();
        return recording.silentTail() >= rate / 10 &&
               recording.firstSound() < recording.frames() - recording.silentTail();
    })) << "the note never ended after Z was released"
        << said();
    desktop.closeRequest(window);
    ASSERT_TRUE(waitLong([&] { return !running(); })) << "closing the window did not quit";
    EXPECT_EQ(status, 0) << said();
    recording.update();

    const std::size_t frames = recording.frames();
    const std::size_t length = period;
    // The attack starts from level 0, so the first sound is the second frame of the period
    // whose start took the note from the keyboard.
    const std::size_t onset = recording.firstSound();
    ASSERT_LT(onset, frames);
    ASSERT_EQ(onset % length, 1u) << "the note began at frame " << onset
                                  << ", not one after a period's start (periods of " << period
                                  << ")";
    const std::size_t onAt = onset - 1;
    // The release shows first where the recording leaves the render of a note held on: in the
    // period that took the note-off from the keyboard (from its first frame, or from its second
    // when the level it falls from is the one held), never before it.
    const std::vector<float> held =
        coreRender(rate, static_cast<int32_t>(period), frames, note, onAt, kNoFrame);
    const std::size_t parted = firstDifference(recording.samples, held);
    ASSERT_NE(parted, kNoFrame) << "the recording is a note never released";
    ASSERT_GT(parted, onAt) << "the recording differs from the core before the note";
    const std::size_t offAt = parted / length * length;
    ASSERT_GT(offAt, onAt) << "the note ended in the period that began it";
    const std::vector<float> released =
        coreRender(rate, static_cast<int32_t>(period), frames, note, onAt, offAt);
    const std::size_t differs = firstDifference(recording.samples, released);
    EXPECT_TRUE(differs == kNoFrame)
        << "differs at frame " << differs << " (period " << differs / length << ")";
    std::printf("%u Hz, periods of %u (%u in the buffer): note-on at frame %zu (period %zu), "
                "note-off at frame %zu (period %zu), %zu frames identical\n",
                rate, period, periods, onAt, onAt / length, offAt, offAt / length, frames);
}
