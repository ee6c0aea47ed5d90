// SPDX-License-Identifier: GPL-3.0-or-later
// The application: start-up checks, the choice of sound system, the main loop, quitting.
#include "standalone/app.h"

#include "core/synth.h"
#include "standalone/app_window.h"
#include "standalone/jack_engine.h"
#include "standalone/options.h"
#include "standalone/state.h"

#if CORVEX_HAVE_ALSA
#include "standalone/alsa_engine.h"
#include "standalone/alsa_midi.h"

#include <alsa/asoundlib.h>
#endif

#include <jack/jack.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef CORVEX_VERSION
#define CORVEX_VERSION "unknown"
#endif

namespace corvex_standalone {

namespace {

int signalPipe[2] = {-1, -1};

// The bytes the signal handlers leave in the pipe.
constexpr char kQuitByte = 's';
constexpr char kStatusByte = 'u';

void writeSignalByte(char byte) {
    const int saved = errno;
    if (signalPipe[1] >= 0) [[maybe_unused]]
        auto written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}
void onSignal(int) { writeSignalByte(kQuitByte); }
void onStatusSignal(int) { writeSignalByte(kStatusByte); }

// SIGINT and SIGTERM (quit) and SIGUSR1 (say how it goes) become bytes in a pipe the main loop
// waits on.
bool catchSignals() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction status = action;
    status.sa_handler = &onStatusSignal;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
           sigaction(SIGUSR1, &status, nullptr) == 0;
}

// JACK's library reports its own attempts on stderr; our one line says what matters.
void quiet(const char*) {}
#if CORVEX_HAVE_ALSA
// So does ALSA's, for every device it could not open.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

class EngineNotes : public NoteSink {
public:
    explicit EngineNotes(PeriodProcessor& period) : period(period) {}
    void playNote(MidiMessage message) override { period.sendNote(message); }

private:
    PeriodProcessor& period;
};

const char kNoJackServer[] = "corvex: no JACK server is running: start one with jackd (e.g. jackd "
                             "-d alsa), or in a PipeWire session run corvex as pw-jack corvex\n";

// What the main loop needs of the sound system that plays.
class Backend {
public:
    virtual ~Backend() = default;
    // Readable once the server or the device has gone away.
    virtual int goneFd() const = 0;
    virtual bool gone() const = 0;
    // The line that says so.
    virtual std::string goneLine() const = 0;
    // One line: what plays, and what it has played.
    virtual std::string status() const = 0;
    virtual bool takeProgramChange(int32_t& program) = 0;
    virtual uint32_t midiEvents() const = 0;
    // "JACK" or "ALSA", for the window's bar; and the times the sound broke up so far.
    virtual const char* name() const = 0;
    virtual uint32_t troubles() const = 0;
    virtual void close() = 0;
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

class JackBackend : public Backend {
public:
    explicit JackBackend(std::unique_ptr<JackEngine> engine) : engine(std::move(engine)) {}
    int goneFd() const override { return engine->shutdownFd(); }
    bool gone() const override { return engine->serverGone(); }
    std::string goneLine() const override {
        const std::string reason = engine->shutdownReason();
        return "corvex: the JACK server went away" + (reason.empty() ? "" : ": " + reason) +
               "; quitting";
    }
    std::string status() const override {
        return format("corvex: JACK %s, %u Hz, %u frames a period; %llu periods played, %u xruns, "
                      "%u MIDI events",
                      engine->clientName(), engine->sampleRate(), engine->bufferSize(),
                      static_cast<unsigned long long>(engine->periods()), engine->xruns(),
                      engine->midiEvents());
    }
    bool takeProgramChange(int32_t& program) override { return engine->takeProgramChange(program); }
    uint32_t midiEvents() const override { return engine->midiEvents(); }
    const char* name() const override { return "JACK"; }
    uint32_t troubles() const override { return engine->xruns(); }
    void close() override { engine->close(); }

private:
    std::unique_ptr<JackEngine> engine;
};

#if CORVEX_HAVE_ALSA
class AlsaBackend : public Backend {
public:
    AlsaBackend(CorvexSynth& synth, PeriodProcessor& period) : engine(synth, period) {}
    ~AlsaBackend() override { AlsaBackend::close(); }
    int goneFd() const override { return engine.shutdownFd(); }
    bool gone() const override { return engine.deviceGone(); }
    std::string goneLine() const override {
        return "corvex: the audio device went away (" + engine.shutdownReason() + "); quitting";
    }
    std::string status() const override {
        return format("corvex: ALSA %s, %u Hz, %u frames a period (%u periods); %llu periods "
                      "played, %u underruns, %u MIDI events",
                      engine.deviceName().c_str(), engine.sampleRate(), engine.bufferSize(),
                      engine.bufferPeriods(), static_cast<unsigned long long>(engine.periods()),
                      engine.underruns(), engine.midiEvents());
    }
    bool takeProgramChange(int32_t& program) override { return engine.takeProgramChange(program); }
    uint32_t midiEvents() const override { return engine.midiEvents(); }
    const char* name() const override { return "ALSA"; }
    uint32_t troubles() const override { return engine.underruns(); }
    void close() override {
        // The audio thread reads the MIDI thread's ring: it stops first.
        engine.close();
        midi.close();
    }

    AlsaMidi midi;
    AlsaEngine engine;
};

// Opens ALSA's device and sequencer and starts both threads; prints what it got. Null (with the
// reason printed and exitStatus set) when it cannot play. triedJack: JACK was tried first.
std::unique_ptr<Backend> startAlsa(const Options& options, CorvexSynth& synth,
                                   PeriodProcessor& period, bool triedJack, int& exitStatus) {
    exitStatus = 1;
    std::vector<ScheduledMidi> scheduled;
    std::string error;
    // The tests' seam: notes at known frames, for a device that has no MIDI port of its own.
    if (const char* notes = std::getenv("CORVEX_TEST_NOTES")) {
        if (!parseScheduledMidi(notes, scheduled, error)) {
            std::fprintf(stderr, "corvex: CORVEX_TEST_NOTES: %s\n", error.c_str());
            exitStatus = 2;
            return nullptr;
        }
    }
    auto alsa = std::make_unique<AlsaBackend>(synth, period);
    AlsaEngine::Request request;
    request.device = options.device;
    request.rate = options.rate;
    request.period = options.period;
    if (alsa->engine.open(request, error) != AlsaEngine::OpenResult::ok) {
        if (triedJack)
            std::fprintf(stderr,
                         "corvex: no sound: no JACK server is running (start jackd, or run pw-jack "
                         "corvex under PipeWire), and %s\n",
                         error.c_str());
        else std::fprintf(stderr, "corvex: %s\n", error.c_str());
        return nullptr;
    }

    AlsaMidi::Connected connected;
    bool midiOn = false;
    switch (alsa->midi.open("Corvex", error)) {
    case AlsaMidi::OpenResult::ok:
        if (options.connect) connected = alsa->midi.connectPresent();
        midiOn = alsa->midi.start(options.connect, error);
        if (!midiOn)
            std::fprintf(stderr, "corvex: warning: %s: MIDI input is off\n", error.c_str());
        break;
    case AlsaMidi::OpenResult::noSequencer:
        std::fprintf(stderr, "corvex: no ALSA sequencer (/dev/snd/seq): MIDI input is off%s\n",
                     options.headless ? "" : "; the computer keyboard still plays");
        break;
    case AlsaMidi::OpenResult::failed:
        std::fprintf(stderr, "corvex: warning: %s: MIDI input is off\n", error.c_str());
        break;
    }
    if (midiOn) alsa->engine.setMidiInput(&alsa->midi.ring());
    alsa->engine.setScheduledMidi(std::move(scheduled));
    if (!alsa->engine.activate(error)) {
        std::fprintf(stderr, "corvex: %s\n", error.c_str());
        return nullptr;
    }
    for (const std::string& failed : connected.failed)
        std::fprintf(stderr, "corvex: warning: could not connect %s\n", failed.c_str());

    std::printf("corvex: ALSA %s at %u Hz, %u frames a period (%u periods), program %d\n",
                options.device.c_str(), alsa->engine.sampleRate(), alsa->engine.bufferSize(),
                alsa->engine.bufferPeriods(), static_cast<int>(synth.getProgram()));
    if (midiOn) {
        std::printf("corvex: MIDI comes in at ALSA's sequencer port %d:%d (Corvex:MIDI In)\n",
                    alsa->midi.client(), alsa->midi.port());
        if (connected.made.empty())
            std::printf("corvex: no connections%s\n",
                        options.connect ? " (a keyboard plugged in later is connected)"
                                        : " (--no-connect)");
        for (const std::string& line : connected.made)
            std::printf("corvex: connected %s -> Corvex:MIDI In\n", line.c_str());
    }
    std::fflush(stdout);
    exitStatus = 0;
    return alsa;
}
#endif

SavedSound currentSound(const CorvexSynth& synth, const MidiLearn& learn) {
    SavedSound sound;
    sound.program = synth.getProgram();
    for (int32_t i = 0; i < kNumParams; ++i) sound.values[i] = synth.getParameter(i);
    for (int32_t i = 0; i < kNumParams; ++i) sound.controllers[i] = learn.controllerOf(i);
    return sound;
}

void save(const CorvexSynth& synth, const MidiLearn& learn, const std::string& path) {
    std::string problem;
    if (!saveSound(path, currentSound(synth, learn), problem))
        std::fprintf(stderr, "corvex: warning: the sound was not saved: %s\n", problem.c_str());
}

}  // namespace

int run(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "corvex: %s\n%s", error.c_str(), usage());
        return 2;
    }
    if (options.help) {
        std::fputs(usage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("corvex %s\n", CORVEX_VERSION);
        return 0;
    }

    int32_t chosen = -1;
    if (!options.program.empty()) {
        chosen = findProgram(options.program);
        if (chosen < 0) {
            std::string near;
            for (const std::string& name : nearPrograms(options.program))
                near += (near.empty() ? "" : ", ") + name;
            std::fprintf(stderr, "corvex: no program '%s'%s%s (give a name or a number 0-63)\n",
                         options.program.substr(0, 64).c_str(),
                         near.empty() ? "" : "; did you mean: ", near.c_str());
            return 1;
        }
    }

    auto synth = std::make_unique<CorvexSynth>();
    const std::string path = statePath();
    if (!options.reset && !path.empty()) {
        SavedSound sound;
        std::string problem;
        switch (loadSound(path, sound, problem)) {
        case LoadResult::loaded:
            synth->setProgram(sound.program);
            for (int32_t i = 0; i < kNumParams; ++i) synth->setParameter(i, sound.values[i]);
            break;
        case LoadResult::missing: break;
        case LoadResult::corrupt:
            std::fprintf(stderr,
                         "corvex: warning: ignoring the saved sound in %s (%s); starting from the "
                         "factory program\n",
                         path.c_str(), problem.c_str());
            synth->setProgram(0);
            break;
        }
    }
    // A program asked for starts as the factory made it.
    if (chosen >= 0) synth->setProgram(chosen);

    if (!options.headless) {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) {
            std::fprintf(stderr,
                         "corvex: no X display (DISPLAY is not set); to play without a window, run "
                         "corvex --headless\n");
            return 1;
        }
    }
    if (!catchSignals()) {
        std::fprintf(stderr, "corvex: cannot set up the signal handling\n");
        return 1;
    }
#if !CORVEX_HAVE_ALSA
    if (options.audio == AudioChoice::alsa) {
        std::fprintf(stderr, "corvex: this corvex was built without ALSA: it plays through JACK "
                             "only\n");
        return 1;
    }
#endif

    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
#if CORVEX_HAVE_ALSA
    snd_lib_error_set_handler(&quietAlsa);
#endif
    MidiLearn learn;
    // What MIDI learn bound in earlier runs, whatever became of the sound (--reset, damage).
    if (!path.empty()) {
        int32_t learned[kNumParams] = {};
        loadControllers(path, learned);
        for (int32_t i = 0; i < kNumParams; ++i) learn.bind(learned[i], i);
    }
    PeriodProcessor period(*synth, learn);
    EngineNotes notes(period);
    std::unique_ptr<StandaloneWindow> window;
    if (!options.headless) {
        window = std::make_unique<StandaloneWindow>(*synth, notes, &learn);
        period.setListener(window.get());
        if (!window->open()) {
            std::fprintf(stderr,
                         "corvex: cannot open a window on the X display '%s'; to play without a "
                         "window, run corvex --headless\n",
                         std::getenv("DISPLAY"));
            return 1;
        }
    }

    // JACK when a server answers (or only JACK, or only ALSA, as asked).
    std::unique_ptr<Backend> backend;
    bool triedJack = false;
    if (options.audio != AudioChoice::alsa) {
        auto engine = std::make_unique<JackEngine>(*synth, period);
        switch (engine->open("Corvex", error)) {
        case JackEngine::OpenResult::ok: break;
        case JackEngine::OpenResult::noServer:
#if CORVEX_HAVE_ALSA
            if (options.audio == AudioChoice::automatic) {
                triedJack = true;
                break;
            }
#endif
            std::fputs(kNoJackServer, stderr);
            return 1;
        case JackEngine::OpenResult::failed:
            std::fprintf(stderr, "corvex: %s\n", error.c_str());
            return 1;
        }
        if (!triedJack) {
            if (!engine->activate(error)) {
                std::fprintf(stderr, "corvex: %s\n", error.c_str());
                return 1;
            }
            JackEngine::Connected connected;
            if (options.connect) connected = engine->connectPhysical();
            for (const std::string& failed : connected.failed)
                std::fprintf(stderr, "corvex: warning: could not connect %s\n", failed.c_str());

            std::printf("corvex: %s at %u Hz, %u frames a period, program %d\n",
                        engine->clientName(), engine->sampleRate(), engine->bufferSize(),
                        static_cast<int>(synth->getProgram()));
            if (connected.made.empty())
                std::printf("corvex: no connections%s\n", options.connect ? "" : " (--no-connect)");
            for (const std::string& line : connected.made)
                std::printf("corvex: connected %s\n", line.c_str());
            std::fflush(stdout);
            backend = std::make_unique<JackBackend>(std::move(engine));
        }
    }
#if CORVEX_HAVE_ALSA
    if (!backend) {
        int failure = 1;
        backend = startAlsa(options, *synth, period, triedJack, failure);
        if (!backend) return failure;
    }
#endif
    if (window) window->setAudioName(backend->name());

    int status = 0;
    bool running = true;
    while (running) {
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {backend->goneFd(), POLLIN, 0}};
        // The window is idled about 50 times a second (a hundred while a knob is dragged, which
        // follows these idles); headless, only MIDI program changes wait.
        const int ready = poll(fds, 2, !window ? 50 : window->tracking() ? 10 : 20);
        if (ready > 0 && (fds[1].revents & POLLIN || backend->gone())) {
            std::fprintf(stderr, "%s\n", backend->goneLine().c_str());
            status = 1;
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            char bytes[16];
            const ssize_t got = ::read(signalPipe[0], bytes, sizeof bytes);
            bool quit = false;
            for (ssize_t i = 0; i < got; ++i) {
                if (bytes[i] != kStatusByte) quit = true;
                else {
                    std::printf("%s\n", backend->status().c_str());
                    std::fflush(stdout);
                }
            }
            if (quit) break;
        }
        int32_t program = 0;
        if (backend->takeProgramChange(program) && program < kNumPrograms) {
            if (window) window->selectProgram(program);
            else synth->setProgram(program);
        }
        if (window) {
            window->idle(backend->midiEvents(), backend->troubles());
            if (window->quitRequested() || !window->isOpen()) running = false;
        }
    }

    if (window) window->close();
    backend->close();
#if CORVEX_HAVE_ALSA
    // Headless, what it played is the last word (underruns above all).
    if (options.headless && dynamic_cast<AlsaBackend*>(backend.get())) {
        std::printf("%s\n", backend->status().c_str());
        std::fflush(stdout);
    }
#endif
    if (!path.empty()) save(*synth, learn, path);
    return status;
}

}  // namespace corvex_standalone
