// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-standalone-bench: the standalone under stress, as a person would push it. A JACK server
// of its own (dummy backend, 48 kHz, 64-frame periods: 1.33 ms each), corvex's engine with its
// window open (when there is a display), a JACK client playing dense random MIDI into it (chords
// held for a while, a pitch bend every period, now and then all-notes-off and a program change)
// and a second thread changing parameters all the time, some to nonsense (out of range, NaN).
// Reported: the server's xruns, the callbacks that took longer than their period (the xruns
// corvex itself would cause), the worst callback time against the period, and whether any sample
// was not finite (which fails the run: exit status 1).
//   CORVEX_STRESS_SECONDS=20 [CORVEX_STRESS_SERVER=name] [CORVEX_STRESS_REALTIME=1]
//   corvex-standalone-bench
#include "core/synth.h"
#include "standalone/app_window.h"
#include "standalone/jack_engine.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace corvex_standalone;

namespace {

// The tests' server name (one of JACK's few server slots), unless CORVEX_STRESS_SERVER names one.
const char* serverName() {
    const char* name = std::getenv("CORVEX_STRESS_SERVER");
    return name && *name ? name : "corvex-test";
}
constexpr uint32_t kPeriod = 64;
bool gNonFinite = false;

uint32_t xorshift(uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

pid_t startServer() {
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The server's chatter would mix into the benchmark's table.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        const std::string period = std::to_string(kPeriod);
        // Real-time scheduling where the machine grants it (CORVEX_STRESS_REALTIME=1), as a
        // musician's system runs JACK; without it, any busy process can delay a period.
        const char* realtime = std::getenv("CORVEX_STRESS_REALTIME");
        const char* mode = realtime && std::atoi(realtime) ? "--realtime" : "--no-realtime";
        execlp("jackd", "jackd", mode, "-n", serverName(), "-d", "dummy", "-r", "48000", "-p",
               period.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void stopServer(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 40; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Plays dense random MIDI into Corvex:midi_in from its own process callback.
struct Player {
    static int process(jack_nframes_t n, void* self) {
        auto* p = static_cast<Player*>(self);
        void* buffer = jack_port_get_buffer(p->port, n);
        jack_midi_clear_buffer(buffer);
        uint32_t& s = p->seed;
        // A pitch bend every period, anywhere in it.
        const uint32_t bend = xorshift(s) & 0x3FFF;
        const unsigned char bendMessage[3] = {0xE0, static_cast<unsigned char>(bend & 0x7F),
                                              static_cast<unsigned char>(bend >> 7)};
        jack_midi_event_write(buffer, xorshift(s) % n, bendMessage, 3);
        // Chords: up to four notes started, each held for up to a second.
        if (xorshift(s) % 4 == 0) {
            const int count = 1 + static_cast<int>(xorshift(s) % 4);
            for (int i = 0; i < count; ++i) {
                const uint8_t note = static_cast<uint8_t>(24 + xorshift(s) % 72);
                const unsigned char on[3] = {0x90, note,
                                             static_cast<unsigned char>(1 + xorshift(s) % 127)};
                jack_midi_event_write(buffer, xorshift(s) % n, on, 3);
                p->held[note] = p->frame + xorshift(s) % 48000;
            }
        }
        for (int note = 0; note < 128; ++note)
            if (p->held[note] && p->held[note] <= p->frame) {
                const unsigned char off[3] = {0x80, static_cast<unsigned char>(note), 0};
                jack_midi_event_write(buffer, n - 1, off, 3);
                p->held[note] = 0;
            }
        if (xorshift(s) % 2000 == 0) {
            const unsigned char allOff[3] = {0xB0, 123, 0};
            jack_midi_event_write(buffer, 0, allOff, 3);
        }
        if (xorshift(s) % 3000 == 0) {
            const unsigned char program[2] = {0xC0, static_cast<unsigned char>(xorshift(s) % 64)};
            jack_midi_event_write(buffer, 0, program, 2);
        }
        p->frame += n;
        return 0;
    }
    jack_port_t* port = nullptr;
    uint32_t seed = 12345;
    uint64_t frame = 1;
    uint64_t held[128] = {};
};

// JACK's library reports every attempt to reach a server that is still starting.
void quiet(const char*) {}

struct NoNotes : NoteSink {
    void playNote(MidiMessage) override {}
};

void BM_StandaloneStress(benchmark::State& state) {
    const char* env = std::getenv("CORVEX_STRESS_SECONDS");
    const double seconds = env ? std::atof(env) : 20.0;
    setenv("JACK_DEFAULT_SERVER", serverName(), 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
    const pid_t server = startServer();
    jack_client_t* midi = nullptr;
    for (int i = 0; i < 50 && !midi; ++i) {
        midi = jack_client_open("stress-midi", JackNoStartServer, nullptr);
        if (!midi) usleep(100000);
    }
    if (!midi) {
        state.SkipWithError("no JACK server (is jackd installed?)");
        stopServer(server);
        return;
    }

    auto synth = std::make_unique<CorvexSynth>();
    MidiLearn learn;
    PeriodProcessor period(*synth, learn);
    JackEngine engine(*synth, period);
    std::string error;
    if (engine.open("Corvex", error) != JackEngine::OpenResult::ok || !engine.activate(error)) {
        state.SkipWithError(("corvex did not start: " + error).c_str());
        jack_client_close(midi);
        stopServer(server);
        return;
    }
    engine.measureTimes(true);
    Player player;
    player.port = jack_port_register(midi, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(midi, &Player::process, &player);
    jack_activate(midi);
    jack_connect(midi, jack_port_name(player.port), "Corvex:midi_in");

    NoNotes notes;
    std::unique_ptr<StandaloneWindow> window;
    const char* display = std::getenv("DISPLAY");
    if (display && *display) {
        window = std::make_unique<StandaloneWindow>(*synth, notes);
        if (!window->open()) window.reset();
    }

    std::atomic<bool> running{true};
    std::thread knobs([&] {
        uint32_t s = 777;
        while (running.load()) {
            const auto index = static_cast<int32_t>(xorshift(s) % kNumParams);
            float value = static_cast<float>(xorshift(s) % 2001) / 1000.0f - 0.5f;
            if (xorshift(s) % 500 == 0) value = std::nanf("");
            synth->setParameter(index, value);
            if (window) window->editor().setParameter(index, value);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    for (auto _ : state) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end && !engine.serverGone()) {
            int32_t program = 0;
            if (engine.takeProgramChange(program) && program < kNumPrograms) {
                if (window) window->selectProgram(program);
                else synth->setProgram(program);
            }
            if (window) window->idle(engine.midiEvents());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    running = false;
    knobs.join();

    const double periodNs = 1e9 * kPeriod / engine.sampleRate();
    state.counters["seconds"] = seconds;
    state.counters["periods"] = static_cast<double>(engine.periods());
    state.counters["midi_events"] = engine.midiEvents();
    state.counters["xruns_server"] = engine.xruns();
    state.counters["overruns_corvex"] = engine.overruns();
    state.counters["worst_us"] = static_cast<double>(engine.worstProcessNs()) / 1000.0;
    state.counters["period_us"] = periodNs / 1000.0;
    state.counters["worst_of_period"] = static_cast<double>(engine.worstProcessNs()) / periodNs;
    state.counters["window"] = window ? 1 : 0;
    state.counters["nonfinite"] = engine.sawNonFinite() ? 1 : 0;
    if (engine.sawNonFinite()) {
        gNonFinite = true;
        state.SkipWithError("non-finite samples");
    }
    if (engine.serverGone()) state.SkipWithError("the JACK server went away");

    if (window) window->close();
    jack_client_close(midi);
    engine.close();
    stopServer(server);
    const std::string leftovers = std::string("rm -f /dev/shm/jack_sem.*_") + serverName() + "_*";
    if (std::system(leftovers.c_str()) != 0) {
        // Nothing was left behind.
    }
}
BENCHMARK(BM_StandaloneStress)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return gNonFinite ? 1 : 0;
}
