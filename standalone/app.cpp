// SPDX-License-Identifier: GPL-3.0-or-later
// The application: start-up checks, the main loop, quitting.
#include "standalone/app.h"

#include "core/synth.h"
#include "standalone/app_window.h"
#include "standalone/jack_engine.h"
#include "standalone/options.h"
#include "standalone/state.h"

#include <jack/jack.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <unistd.h>

#ifndef CORVEX_VERSION
#define CORVEX_VERSION "unknown"
#endif

namespace corvex_standalone {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 's';
    if (signalPipe[1] >= 0) [[maybe_unused]]
        auto written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// SIGINT and SIGTERM become a byte in a pipe the main loop waits on.
bool catchQuitSignals() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

// JACK's library reports its own attempts on stderr; our one line says what matters.
void quiet(const char*) {}

class EngineNotes : public NoteSink {
public:
    explicit EngineNotes(JackEngine& engine) : engine(engine) {}
    void playNote(MidiMessage message) override { engine.sendNote(message); }

private:
    JackEngine& engine;
};

SavedSound currentSound(const CorvexSynth& synth) {
    SavedSound sound;
    sound.program = synth.getProgram();
    for (int32_t i = 0; i < kNumParams; ++i) sound.values[i] = synth.getParameter(i);
    return sound;
}

void save(const CorvexSynth& synth, const std::string& path) {
    std::string problem;
    if (!saveSound(path, currentSound(synth), problem))
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
    if (!catchQuitSignals()) {
        std::fprintf(stderr, "corvex: cannot set up the signal handling\n");
        return 1;
    }

    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
    MidiLearn learn;
    PeriodProcessor period(*synth, learn);
    JackEngine engine(*synth, period);
    EngineNotes notes(engine);
    std::unique_ptr<StandaloneWindow> window;
    if (!options.headless) {
        window = std::make_unique<StandaloneWindow>(*synth, notes);
        if (!window->open()) {
            std::fprintf(stderr,
                         "corvex: cannot open a window on the X display '%s'; to play without a "
                         "window, run corvex --headless\n",
                         std::getenv("DISPLAY"));
            return 1;
        }
    }

    switch (engine.open("Corvex", error)) {
    case JackEngine::OpenResult::ok: break;
    case JackEngine::OpenResult::noServer:
        std::fprintf(stderr,
                     "corvex: no JACK server is running: start one with jackd (e.g. jackd -d "
                     "alsa), or in a PipeWire session run corvex as pw-jack corvex\n");
        return 1;
    case JackEngine::OpenResult::failed:
        std::fprintf(stderr, "corvex: %s\n", error.c_str());
        return 1;
    }
    if (!engine.activate(error)) {
        std::fprintf(stderr, "corvex: %s\n", error.c_str());
        return 1;
    }
    JackEngine::Connected connected;
    if (options.connect) connected = engine.connectPhysical();
    for (const std::string& failed : connected.failed)
        std::fprintf(stderr, "corvex: warning: could not connect %s\n", failed.c_str());

    std::printf("corvex: %s at %u Hz, %u frames a period, program %d\n", engine.clientName(),
                engine.sampleRate(), engine.bufferSize(), static_cast<int>(synth->getProgram()));
    if (connected.made.empty())
        std::printf("corvex: no connections%s\n", options.connect ? "" : " (--no-connect)");
    for (const std::string& line : connected.made)
        std::printf("corvex: connected %s\n", line.c_str());
    std::fflush(stdout);

    int status = 0;
    bool running = true;
    while (running) {
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {engine.shutdownFd(), POLLIN, 0}};
        // The window is idled about 50 times a second (a hundred while a knob is dragged, which
        // follows these idles); headless, only MIDI program changes wait.
        const int ready = poll(fds, 2, !window ? 50 : window->tracking() ? 10 : 20);
        if (ready > 0 && (fds[1].revents & POLLIN || engine.serverGone())) {
            const std::string reason = engine.shutdownReason();
            std::fprintf(stderr, "corvex: the JACK server went away%s%s; quitting\n",
                         reason.empty() ? "" : ": ", reason.c_str());
            status = 1;
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) break;
        int32_t program = 0;
        if (engine.takeProgramChange(program) && program < kNumPrograms) {
            if (window) window->selectProgram(program);
            else synth->setProgram(program);
        }
        if (window) {
            window->idle(engine.midiEvents());
            if (window->quitRequested() || !window->isOpen()) running = false;
        }
    }

    if (window) window->close();
    engine.close();
    if (!path.empty()) save(*synth, path);
    return status;
}

}  // namespace corvex_standalone
