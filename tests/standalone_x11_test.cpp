// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the standalone corvex as a person meets it, on a real X server (the private Xvfb) and a
// JACK server of the test's own (dummy backend): its window's editor area shows exactly the
// plug-in editor's pixels; XTest presses of Z and S play two notes (C3 and C#3: two onsets in the
// recording of a short, plucked sound) and holding Z past the auto-repeat delay plays it once;
// a click on "next program" changes the title and the values (as the state saved at quit shows);
// a knob drag changes the synth's value; closing the window quits with status 0; a MIDI program
// change chooses the program and the title follows.
#include "support/x11_environment.h"

#include "core/params.h"
#include "hostkit/plugin.h"
#include "support/record_calls.h"
#include "testkit/x11_host.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
               jack_connect(client, "Corvex:out_left", jack_port_name(port)) == 0;
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
               jack_connect(client, jack_port_name(port), "Corvex:midi_in") == 0;
    }
    ~MidiSender() {
        if (client) jack_client_close(client);
    }
    // A two-byte message, sent in the next period.
    void send(uint8_t status, uint8_t data) {
        bytes[0] = status;
        bytes[1] = data;
        pending = true;
    }

private:
    static int process(jack_nframes_t n, void* self) {
        auto* m = static_cast<MidiSender*>(self);
        void* buffer = jack_port_get_buffer(m->port, n);
        jack_midi_clear_buffer(buffer);
        if (m->pending.exchange(false)) jack_midi_event_write(buffer, 0, m->bytes, 2);
        return 0;
    }
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    unsigned char bytes[2] = {};
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
    std::string state() const { return readFile(stateHome + "/corvex/state"); }
    static std::string valueLine(int32_t index, float value) {
        char text[64];
        std::snprintf(text, sizeof text, "\n%s %g\n", kParamInfo[index].symbol,
                      static_cast<double>(value));
        return text;
    }

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
    std::string text = "program 0\n";
    for (int32_t i = 0; i < kNumParams; ++i) {
        float v = factoryProgram(0).values[i];
        if (i == kAttack) v = 0.002f;
        if (i == kDecay) v = 0.1f;
        if (i == kSustain) v = 0.0f;
        if (i == kRelease) v = 0.02f;
        text += std::string(kParamInfo[i].symbol) + " " + std::to_string(v) + "\n";
    }
    std::filesystem::create_directories(stateHome + "/corvex");
    std::ofstream(stateHome + "/corvex/state") << text;
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
