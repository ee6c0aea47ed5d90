// SPDX-License-Identifier: GPL-3.0-or-later
// AlsaEngine: the standalone's sound without a JACK server. It opens an ALSA PCM for playback
// (interleaved stereo; float samples where the device takes them, else 32- or 16-bit integers)
// and runs an audio thread of its own that plays a CorvexSynth through a PeriodProcessor: each
// period, the computer keyboard's notes, then the MIDI that came in (stamped on arrival, placed
// one period late at its own distance from the previous period's start), then the render of the
// whole period, then the write to the device, whose wait paces the loop.
//
// Threads:
// - main thread: open, setMidiInput, setScheduledMidi, activate, close, sendNote,
//   takeProgramChange, every getter. One main thread.
// - the audio thread (started by activate, ended by close): the loop only. It takes no lock,
//   allocates nothing and makes no system call but the PCM's own wait and write (and, after an
//   underrun or a suspend, the PCM's recovery): its buffers are made by open, counters are
//   atomics, MIDI comes through single-producer single-consumer rings. When the device goes away
//   it stores the reason, writes one byte into a pipe (for the main thread's poll) and ends.
#pragma once

#include "core/synth.h"
#include "standalone/period.h"
#include "standalone/timed_midi.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// libasound's handle, declared as it does.
typedef struct _snd_pcm snd_pcm_t;  // NOLINT(modernize-use-using): the library's own declaration

namespace corvex_standalone {

// The sample formats the engine writes, as ALSA stores them in this machine's byte order.
enum class SampleFormat { float32, s32, s16 };
const char* sampleFormatName(SampleFormat format);
// Interleaves one period's two channels into out, converting to format: integers are the samples
// scaled to full range, rounded, and clipped at it (NaN plays as silence). out holds 2 * frames
// samples of format's size.
void interleave(const float* left, const float* right, int32_t frames, SampleFormat format,
                void* out);

class AlsaEngine {
public:
    AlsaEngine(CorvexSynth& synth, PeriodProcessor& period);
    ~AlsaEngine();
    AlsaEngine(const AlsaEngine&) = delete;
    AlsaEngine& operator=(const AlsaEngine&) = delete;

    struct Request {
        std::string device = "default";
        uint32_t rate = 48000;
        uint32_t period = 256;
    };
    // noDevice: no such device (or no sound card behind it); busy: another program holds it.
    enum class OpenResult { ok, noDevice, busy, failed };
    // Opens and sets up the device as close to the request as it allows (never blocking on a busy
    // device); the synth is set to the rate and period it gave, and reset. error says what went
    // wrong otherwise, in a few words naming the device.
    OpenResult open(const Request& request, std::string& error);
    // Where MIDI from outside comes from (the sequencer's ring); before activate. May stay unset.
    void setMidiInput(TimedMidiRing* ring) { midiInput = ring; }
    // Messages to play at frames counted from the first one played (the test seam); before
    // activate, sorted by frame.
    void setScheduledMidi(std::vector<ScheduledMidi> messages) { scheduled = std::move(messages); }
    // Starts the audio thread, which asks for real-time scheduling and carries on without it.
    bool activate(std::string& error);
    // Ends the audio thread (within a period, or a fraction of a second on a stalled device) and
    // closes the device.
    void close();

    // Readable once the device has gone away (unplugged, or an error it cannot recover from); the
    // reason in deviceGone and shutdownReason.
    int shutdownFd() const { return pipeFds[0]; }
    bool deviceGone() const { return gone.load(std::memory_order_acquire); }
    std::string shutdownReason() const;

    // A channel message for the synth at the start of the next period (the computer keyboard).
    bool sendNote(MidiMessage message) { return period.sendNote(message); }
    // A program change that came in through MIDI (0-127, as sent); false when none is waiting.
    bool takeProgramChange(int32_t& program) { return period.takeProgramChange(program); }

    // What the device gave, and what the audio thread has seen.
    const std::string& deviceName() const { return name; }
    uint32_t sampleRate() const { return rate; }
    uint32_t bufferSize() const { return periodFrames; }
    uint32_t bufferPeriods() const { return periodsInBuffer; }
    SampleFormat format() const { return sampleFormat; }
    uint64_t periods() const { return periodCount.load(std::memory_order_relaxed); }
    uint32_t underruns() const { return underrunCount.load(std::memory_order_relaxed); }
    uint32_t midiEvents() const { return period.midiEvents(); }
    bool realTime() const { return realTimeGranted.load(std::memory_order_relaxed); }

private:
    void run();
    // Writes the interleaved period; false when the device is gone (or the engine is closing).
    bool write();
    // The MIDI that came in since the previous period, placed by its stamps.
    void takeMidi();
    void fail(int code, const char* what);

    CorvexSynth& synth;
    PeriodProcessor& period;
    snd_pcm_t* pcm = nullptr;
    std::string name;
    uint32_t rate = 0;
    uint32_t periodFrames = 0;
    uint32_t periodsInBuffer = 0;
    SampleFormat sampleFormat = SampleFormat::float32;
    std::vector<float> left, right;
    std::vector<uint8_t> interleaved;
    std::size_t frameBytes = 0;

    TimedMidiRing* midiInput = nullptr;
    std::vector<ScheduledMidi> scheduled;
    std::size_t nextScheduled = 0;  // the audio thread's
    uint64_t framesPlayed = 0;      // the audio thread's
    uint64_t previousStartNs = 0;   // the audio thread's

    std::thread thread;
    std::atomic<bool> stopping{false};
    int pipeFds[2] = {-1, -1};
    std::atomic<uint64_t> periodCount{0};
    std::atomic<uint32_t> underrunCount{0};
    std::atomic<bool> realTimeGranted{false};
    std::atomic<bool> gone{false};
    char reason[256] = {};
};

}  // namespace corvex_standalone
