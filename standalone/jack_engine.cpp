// SPDX-License-Identifier: GPL-3.0-or-later
// The JACK client: registration, the process callback, the server's notifications.
#include "standalone/jack_engine.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace corvex_standalone {

namespace {

uint64_t nowNs() {
    timespec t{};
    // CLOCK_MONOTONIC is read from the vDSO on Linux: no system call.
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
}

}  // namespace

JackEngine::JackEngine(CorvexSynth& s, PeriodProcessor& p) : synth(s), period(p) {
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) pipeFds[0] = pipeFds[1] = -1;
}

JackEngine::~JackEngine() {
    close();
    for (int fd : pipeFds)
        if (fd >= 0) ::close(fd);
}

JackEngine::OpenResult JackEngine::open(const char* name, std::string& error) {
    jack_status_t status{};
    client = jack_client_open(name, JackNoStartServer, &status);
    if (!client) {
        if (status & JackServerFailed) return OpenResult::noServer;
        error = "JACK refused the client (status 0x" + [&] {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(status));
            return std::string(hex);
        }() + ")";
        return OpenResult::failed;
    }
    outputs[0] = jack_port_register(client, kLeftPort, JACK_DEFAULT_AUDIO_TYPE,
                                    JackPortIsOutput | JackPortIsTerminal, 0);
    outputs[1] = jack_port_register(client, kRightPort, JACK_DEFAULT_AUDIO_TYPE,
                                    JackPortIsOutput | JackPortIsTerminal, 0);
    midiIn = jack_port_register(client, kMidiPort, JACK_DEFAULT_MIDI_TYPE,
                                JackPortIsInput | JackPortIsTerminal, 0);
    if (!outputs[0] || !outputs[1] || !midiIn) {
        error = "JACK would not register the client's ports";
        jack_client_close(client);
        client = nullptr;
        return OpenResult::failed;
    }
    const uint32_t serverRate = jack_get_sample_rate(client);
    rate.store(serverRate, std::memory_order_relaxed);
    periodFrames.store(jack_get_buffer_size(client), std::memory_order_relaxed);
    // Before activation nothing renders, so the synth may be set up from here.
    synth.setSampleRate(static_cast<float>(serverRate));
    synth.setBlockSize(static_cast<int32_t>(jack_get_buffer_size(client)));
    synth.reset();

    jack_set_process_callback(client, &JackEngine::processEntry, this);
    jack_set_buffer_size_callback(client, &JackEngine::bufferSizeEntry, this);
    jack_set_sample_rate_callback(client, &JackEngine::sampleRateEntry, this);
    jack_set_xrun_callback(client, &JackEngine::xrunEntry, this);
    jack_on_info_shutdown(client, &JackEngine::shutdownEntry, this);
    return OpenResult::ok;
}

bool JackEngine::activate(std::string& error) {
    if (!client) return false;
    if (jack_activate(client) != 0) {
        error = "JACK would not activate the client";
        return false;
    }
    active = true;
    return true;
}

const char* JackEngine::clientName() const { return client ? jack_get_client_name(client) : ""; }

JackEngine::Connected JackEngine::connectPhysical() {
    Connected result;
    if (!client) return result;
    const auto connect = [&](const char* from, const char* to) {
        const std::string line = std::string(from) + " -> " + to;
        (jack_connect(client, from, to) == 0 ? result.made : result.failed).push_back(line);
    };
    if (const char** playback = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                               JackPortIsPhysical | JackPortIsInput)) {
        for (int i = 0; i < 2 && playback[i]; ++i) connect(jack_port_name(outputs[i]), playback[i]);
        jack_free(playback);
    }
    if (const char** sources = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                              JackPortIsPhysical | JackPortIsOutput)) {
        for (int i = 0; sources[i]; ++i) connect(sources[i], jack_port_name(midiIn));
        jack_free(sources);
    }
    return result;
}

void JackEngine::close() {
    if (!client) return;
    // A dead server may never answer: the client's memory is the process's to drop at exit.
    if (!serverGone()) {
        if (active) jack_deactivate(client);
        jack_client_close(client);
    }
    client = nullptr;
    active = false;
}

std::string JackEngine::shutdownReason() const {
    if (!serverGone()) return {};
    return std::string(reason, strnlen(reason, sizeof reason));
}

// ---- Callbacks -------------------------------------------------------------------------------

int JackEngine::processEntry(jack_nframes_t frames, void* self) {
    return static_cast<JackEngine*>(self)->process(frames);
}

int JackEngine::bufferSizeEntry(jack_nframes_t frames, void* self) {
    // The synth renders any number of frames; the size is kept for what it reports.
    static_cast<JackEngine*>(self)->periodFrames.store(frames, std::memory_order_relaxed);
    return 0;
}

int JackEngine::sampleRateEntry(jack_nframes_t newRate, void* self) {
    // Picked up by the process thread before its next render: the synth is its alone.
    static_cast<JackEngine*>(self)->rate.store(newRate, std::memory_order_relaxed);
    return 0;
}

int JackEngine::xrunEntry(void* self) {
    static_cast<JackEngine*>(self)->xrunCount.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackEngine::shutdownEntry(jack_status_t, const char* why, void* self) {
    // On one of JACK's threads: copy the reason, then wake the main thread through the pipe.
    auto* engine = static_cast<JackEngine*>(self);
    if (engine->gone.load(std::memory_order_acquire)) return;
    if (why) {
        std::size_t n = 0;
        while (n + 1 < sizeof engine->reason && why[n]) {
            engine->reason[n] = why[n];
            ++n;
        }
        engine->reason[n] = '\0';
    }
    engine->gone.store(true, std::memory_order_release);
    const char byte = 'x';
    if (engine->pipeFds[1] >= 0) [[maybe_unused]]
        auto written = ::write(engine->pipeFds[1], &byte, 1);
}

int JackEngine::process(jack_nframes_t frames) {
    const bool timed = timing.load(std::memory_order_relaxed);
    const uint64_t start = timed ? nowNs() : 0;

    const uint32_t serverRate = rate.load(std::memory_order_relaxed);
    const auto count = static_cast<int32_t>(std::min<jack_nframes_t>(frames, INT32_MAX));
    period.begin(count, serverRate);
    if (void* midi = jack_port_get_buffer(midiIn, frames)) takeMidi(midi);

    auto* left = static_cast<float*>(jack_port_get_buffer(outputs[0], frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(outputs[1], frames));
    if (left && right) period.render(left, right);
    periodCount.fetch_add(1, std::memory_order_relaxed);

    if (timed) {
        for (int32_t i = 0; left && i < count; ++i)
            if (!std::isfinite(left[i]) || (right && !std::isfinite(right[i])))
                nonFinite.store(true, std::memory_order_relaxed);
        const uint64_t took = nowNs() - start;
        const uint64_t budget = serverRate ? uint64_t{frames} * 1000000000ull / serverRate : 0;
        if (took > budget) overrunCount.fetch_add(1, std::memory_order_relaxed);
        if (took > worstNs.load(std::memory_order_relaxed)) {
            worstNs.store(took, std::memory_order_relaxed);
            worstFrames.store(frames, std::memory_order_relaxed);
        }
    }
    return 0;
}

void JackEngine::takeMidi(void* buffer) {
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event{};
        if (jack_midi_event_get(&event, buffer, i) != 0) continue;
        // JACK's events lie within the period: a time beyond it is the server's fault, and is
        // taken at the period's last frame rather than in a later one.
        const auto frame = static_cast<int32_t>(std::min<jack_nframes_t>(event.time, INT32_MAX));
        period.midi(event.buffer, event.size, frame);
    }
}

}  // namespace corvex_standalone
