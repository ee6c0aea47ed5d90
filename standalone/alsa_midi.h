// SPDX-License-Identifier: GPL-3.0-or-later
// AlsaMidi: MIDI input without JACK. An ALSA sequencer client "Corvex" with one input port,
// "MIDI In", that others may connect to; at start it connects every hardware MIDI output present
// (keyboards, interfaces) and, while it runs, each one plugged in later. A MIDI thread of its own
// waits on the sequencer, turns each channel event into its MIDI bytes, stamps it with
// CLOCK_MONOTONIC and hands it to the audio thread through a ring (standalone/timed_midi.h).
//
// Threads:
// - main thread: open, connectPresent, start, close, the getters. One main thread.
// - the MIDI thread (started by start, ended by close): waits in poll, reads the sequencer,
//   pushes into the ring (its only producer), connects ports as they appear and prints one line
//   for each. It is not the audio thread: system calls are fine here.
// - the ring's consumer is the audio thread (AlsaEngine).
#pragma once

#include "standalone/timed_midi.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// libasound's types, declared as it does.
typedef struct _snd_seq snd_seq_t;             // NOLINT(modernize-use-using)
typedef struct snd_seq_event snd_seq_event_t;  // NOLINT(modernize-use-using)

namespace corvex_standalone {

// The MIDI bytes of a sequencer event, into out; their count (2 or 3), or 0 for anything that
// is not a channel message the synth could use (system events, sysex, 14-bit controllers).
// Values out of MIDI's range are clamped into it.
int decodeSequencerEvent(const snd_seq_event_t& event, uint8_t out[3]);

// Whether a port is one to connect to unasked: another client's (not the system's, not ours)
// output that others may subscribe to, of a MIDI device or a hardware port.
bool isKeyboardPort(int client, int ownClient, unsigned capability, unsigned type);

class AlsaMidi {
public:
    AlsaMidi() = default;
    ~AlsaMidi();
    AlsaMidi(const AlsaMidi&) = delete;
    AlsaMidi& operator=(const AlsaMidi&) = delete;

    // noSequencer: the system has no sequencer (no /dev/snd/seq, as in most containers).
    enum class OpenResult { ok, noSequencer, failed };
    OpenResult open(const char* clientName, std::string& error);
    // Connects every keyboard port present to the input; each as "24:0 USB Keyboard MIDI 1".
    struct Connected {
        std::vector<std::string> made, failed;
    };
    Connected connectPresent();
    // Starts the MIDI thread; with followNewPorts, ports that appear later are connected too.
    bool start(bool followNewPorts, std::string& error);
    // Ends the MIDI thread and leaves the sequencer.
    void close();

    TimedMidiRing& ring() { return messages; }
    // The input port's address, as aconnect names it.
    int client() const { return clientId; }
    int port() const { return portId; }
    // Messages lost because the audio thread fell behind by a whole ring.
    uint32_t dropped() const { return droppedCount.load(std::memory_order_relaxed); }

private:
    void run();
    void portStarted(int client, int port);
    bool connect(int client, int port, std::string& line);

    snd_seq_t* seq = nullptr;
    int clientId = -1;
    int portId = -1;
    bool follow = false;
    int wakeFds[2] = {-1, -1};
    std::thread thread;
    TimedMidiRing messages;
    std::atomic<uint32_t> droppedCount{0};
};

}  // namespace corvex_standalone
