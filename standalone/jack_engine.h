// SPDX-License-Identifier: GPL-3.0-or-later
// JackEngine: the standalone's sound. A JACK client with two audio outputs (out_left, out_right)
// and one MIDI input (midi_in) that plays a CorvexSynth through a PeriodProcessor: each period,
// the notes of the computer keyboard first, then the MIDI input's events at their frame offsets,
// then the render of the whole period (standalone/period.h).
//
// Threads:
// - main thread: open, activate, connectPhysical, close, sendNote, takeProgramChange,
//   every getter. One main thread.
// - JACK's process thread: the process callback only. It takes no lock, allocates nothing and
//   makes no system call: notes come in and program changes go out through the period
//   processor's rings, counters are atomics, and a sample-rate change is a value it picks up.
// - JACK's other threads: the sample-rate, xrun and shutdown callbacks, which only store atomics
//   (and, for the shutdown, write one byte into a pipe, which is safe from any thread).
#pragma once

#include "core/synth.h"
#include "standalone/period.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace corvex_standalone {

class JackEngine {
public:
    static constexpr const char* kLeftPort = "out_left";
    static constexpr const char* kRightPort = "out_right";
    static constexpr const char* kMidiPort = "midi_in";

    JackEngine(CorvexSynth& synth, PeriodProcessor& period);
    ~JackEngine();
    JackEngine(const JackEngine&) = delete;
    JackEngine& operator=(const JackEngine&) = delete;

    enum class OpenResult { ok, noServer, failed };
    // Connects to a running server (never starts one) as name and registers the ports; the synth
    // is set to the server's rate and reset. error says what went wrong otherwise.
    OpenResult open(const char* name, std::string& error);
    bool activate(std::string& error);
    // The first two physical playback ports to the outputs, every physical MIDI output to the
    // input; each connection as "Corvex:out_left -> system:playback_1".
    struct Connected {
        std::vector<std::string> made, failed;
    };
    Connected connectPhysical();
    // Deactivates and leaves the server; after the server went away, only forgets the client
    // (talking to a dead server can block).
    void close();

    // Readable once the server has gone away (shut down or killed); the reason in serverGone.
    int shutdownFd() const { return pipeFds[0]; }
    bool serverGone() const { return gone.load(std::memory_order_acquire); }
    std::string shutdownReason() const;

    // A channel message for the synth at the start of the next period (the computer keyboard).
    // False when the ring is full.
    bool sendNote(MidiMessage message) { return period.sendNote(message); }
    // A program change that came in through MIDI (0-127, as sent); false when none is waiting.
    bool takeProgramChange(int32_t& program) { return period.takeProgramChange(program); }

    // What the server does now and what the process thread has seen.
    uint32_t sampleRate() const { return rate.load(std::memory_order_relaxed); }
    uint32_t bufferSize() const { return periodFrames.load(std::memory_order_relaxed); }
    uint32_t midiEvents() const { return period.midiEvents(); }
    uint32_t xruns() const { return xrunCount.load(std::memory_order_relaxed); }
    uint64_t periods() const { return periodCount.load(std::memory_order_relaxed); }
    bool sawNonFinite() const { return nonFinite.load(std::memory_order_relaxed); }

    // Timing of the process callback, for the stress benchmark: off by default (reading the clock
    // is cheap, but the callback reads nothing it does not need). The worst time in nanoseconds,
    // and the period it happened in, in frames.
    void measureTimes(bool on) { timing.store(on, std::memory_order_relaxed); }
    uint64_t worstProcessNs() const { return worstNs.load(std::memory_order_relaxed); }
    uint32_t worstPeriod() const { return worstFrames.load(std::memory_order_relaxed); }
    // Callbacks that took longer than their period lasts: the xruns corvex itself would cause.
    uint32_t overruns() const { return overrunCount.load(std::memory_order_relaxed); }

    const char* clientName() const;

private:
    static int processEntry(jack_nframes_t frames, void* self);
    static int bufferSizeEntry(jack_nframes_t frames, void* self);
    static int sampleRateEntry(jack_nframes_t rate, void* self);
    static int xrunEntry(void* self);
    static void shutdownEntry(jack_status_t code, const char* reason, void* self);
    int process(jack_nframes_t frames);
    void takeMidi(void* buffer);

    CorvexSynth& synth;
    PeriodProcessor& period;
    jack_client_t* client = nullptr;
    jack_port_t* outputs[2] = {};
    jack_port_t* midiIn = nullptr;
    bool active = false;
    int pipeFds[2] = {-1, -1};

    std::atomic<uint32_t> rate{0};
    std::atomic<uint32_t> periodFrames{0};
    std::atomic<uint32_t> xrunCount{0};
    std::atomic<uint64_t> periodCount{0};
    std::atomic<bool> nonFinite{false};
    std::atomic<bool> timing{false};
    std::atomic<uint64_t> worstNs{0};
    std::atomic<uint32_t> worstFrames{0};
    std::atomic<uint32_t> overrunCount{0};
    std::atomic<bool> gone{false};
    char reason[256] = {};
};

}  // namespace corvex_standalone
