// SPDX-License-Identifier: GPL-3.0-or-later
// jack-note-probe: a JACK client standing in for a host's MIDI track and recorder. It connects
// its MIDI output to CLIENT:midi_in and CLIENT:out_left / out_right to its inputs, plays one note
// for half a second, listens for one and a half, and reports the peak. Exit status 0 when the
// output was finite and not silent, 1 otherwise, 2 when it could not connect.
//   jack-note-probe CLIENT
// Threads: main sets up and waits; JACK's process thread fills and reads the buffers, sharing
// only atomics with main.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

jack_port_t* midiOut = nullptr;
jack_port_t* inputs[2] = {};
std::atomic<uint64_t> frames{0};
std::atomic<float> peak{0.0f};
std::atomic<bool> nonFinite{false};
jack_nframes_t rate = 48000;

int process(jack_nframes_t n, void*) {
    void* midi = jack_port_get_buffer(midiOut, n);
    jack_midi_clear_buffer(midi);
    const uint64_t start = frames.load();
    const uint64_t off = rate / 2;
    if (start == 0) {
        const unsigned char on[3] = {0x90, 60, 100};
        jack_midi_event_write(midi, 0, on, 3);
    } else if (start <= off && off < start + n) {
        const unsigned char release[3] = {0x80, 60, 0};
        jack_midi_event_write(midi, static_cast<jack_nframes_t>(off - start), release, 3);
    }
    float p = peak.load();
    for (jack_port_t* port : inputs) {
        const auto* samples = static_cast<const float*>(jack_port_get_buffer(port, n));
        for (jack_nframes_t i = 0; i < n; ++i) {
            if (!std::isfinite(samples[i])) nonFinite = true;
            else if (std::fabs(samples[i]) > p) p = std::fabs(samples[i]);
        }
    }
    peak = p;
    frames = start + n;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: jack-note-probe CLIENT\n");
        return 2;
    }
    const std::string client = argv[1];
    jack_client_t* jack = jack_client_open("corvex-probe", JackNoStartServer, nullptr);
    if (!jack) {
        std::fprintf(stderr, "jack-note-probe: no JACK server\n");
        return 2;
    }
    rate = jack_get_sample_rate(jack);
    midiOut = jack_port_register(jack, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    inputs[0] = jack_port_register(jack, "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    inputs[1] = jack_port_register(jack, "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(jack, process, nullptr);
    if (!midiOut || !inputs[0] || !inputs[1] || jack_activate(jack) != 0) return 2;
    // Connected before the first note, so the note is heard from its start.
    const bool connected =
        jack_connect(jack, jack_port_name(midiOut), (client + ":midi_in").c_str()) == 0 &&
        jack_connect(jack, (client + ":out_left").c_str(), jack_port_name(inputs[0])) == 0 &&
        jack_connect(jack, (client + ":out_right").c_str(), jack_port_name(inputs[1])) == 0;
    if (!connected) {
        std::fprintf(stderr, "jack-note-probe: cannot connect to %s's ports\n", client.c_str());
        jack_client_close(jack);
        return 2;
    }
    frames = 0;
    // The dummy backend runs in real time: wait until one and a half seconds have gone through.
    for (int i = 0; i < 500 && frames.load() < rate * 3ull / 2; ++i) usleep(10000);
    const uint64_t heard = frames.load();
    jack_client_close(jack);
    std::printf("frames %llu, peak %g%s\n", static_cast<unsigned long long>(heard),
                static_cast<double>(peak.load()), nonFinite ? ", non-finite samples" : "");
    return !nonFinite && peak.load() > 0.0f && heard >= rate ? 0 : 1;
}
