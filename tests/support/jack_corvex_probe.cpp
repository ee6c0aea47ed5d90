// SPDX-License-Identifier: GPL-3.0-or-later
// jack-corvex-probe: checks that the standalone corvex plays exactly what the core renders. Two
// JACK clients of its own stand in for a MIDI keyboard ("probe-send", feeding CLIENT:midi_in) and
// a recorder ("probe-rec", fed by CLIENT:out_left and out_right), so the graph runs send, corvex,
// recorder in one cycle. It plays a note at a known frame of a period, optionally changes the
// server's period (jack_set_buffer_size) and plays a second note, records every period without a
// gap, then renders the same events at the same offsets with the same block sizes through a
// CorvexSynth of its own and compares both channels bit for bit.
//   jack-corvex-probe CLIENT PROGRAM [--start N] [--period N]
// Exit status 0 when identical (and not silent), 1 when not, 2 when it could not run the check.
// Threads: main sets up, arms the notes and compares; JACK's process thread runs both clients'
// callbacks, sharing only atomics and preallocated buffers with main.
#include "core/synth.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Event {
    uint64_t frame;  // on the sender's own count of frames
    uint8_t bytes[3];
};

// A MIDI message as the sender wrote it: in which of its cycles, at which offset.
struct Written {
    uint64_t cycle;
    uint32_t offset;
    uint8_t bytes[3];
};

struct Block {
    uint64_t cycle;  // the sender's cycle of the same graph cycle
    uint32_t frames;
};

constexpr std::size_t kMaxEvents = 8;
constexpr std::size_t kMaxBlocks = 1 << 16;
constexpr std::size_t kMaxFrames = 8 * 96000;

jack_client_t* sender = nullptr;
jack_client_t* recorder = nullptr;
jack_port_t* midiOut = nullptr;
jack_port_t* inputs[2] = {};

// Main arms a note (its number and its frame within the period that picks it up); the sender
// places it and its release, and the first one starts the recording. Time is counted by the
// sender's own cycles and frames, never by the server's frame counter, which jumps (even back)
// when the dummy backend resynchronises on a busy machine, and which two clients may read on
// either side of such a jump.
std::atomic<int> armedNote{-1};
std::atomic<uint32_t> armedFrame{0};
std::atomic<uint32_t> noteLength{0};
Event events[kMaxEvents];
uint32_t eventCount = 0;  // the sender's alone
Written written[kMaxEvents];
std::atomic<uint32_t> writtenCount{0};
std::atomic<uint64_t> senderCycle{0};
uint64_t senderFrames = 0;
std::atomic<uint64_t> recordFrom{UINT64_MAX};
std::atomic<bool> recording{false};
std::atomic<bool> stop{false};
std::atomic<bool> late{false};

Block blocks[kMaxBlocks];
std::atomic<uint32_t> blockCount{0};
std::vector<float> left(kMaxFrames), right(kMaxFrames);
std::atomic<uint64_t> recorded{0};

int sendProcess(jack_nframes_t n, void*) {
    void* midi = jack_port_get_buffer(midiOut, n);
    jack_midi_clear_buffer(midi);
    const uint64_t cycle = senderCycle.load() + 1;
    const uint64_t start = senderFrames;
    const int note = armedNote.exchange(-1);
    if (note >= 0 && eventCount + 2 <= kMaxEvents) {
        const uint64_t at = start + std::min<uint32_t>(armedFrame.load(), n - 1);
        events[eventCount] = {at, {0x90, static_cast<uint8_t>(note), 100}};
        events[eventCount + 1] = {at + noteLength.load(), {0x80, static_cast<uint8_t>(note), 0}};
        if (eventCount == 0) recordFrom.store(cycle);
        eventCount += 2;
    }
    for (uint32_t i = 0; i < eventCount; ++i) {
        if (events[i].frame < start || events[i].frame >= start + n) continue;
        const auto offset = static_cast<uint32_t>(events[i].frame - start);
        jack_midi_event_write(midi, offset, events[i].bytes, 3);
        const uint32_t w = writtenCount.load();
        if (w < kMaxEvents) {
            written[w] = {
                cycle, offset, {events[i].bytes[0], events[i].bytes[1], events[i].bytes[2]}};
            writtenCount.store(w + 1);
        }
    }
    senderFrames = start + n;
    senderCycle.store(cycle);
    return 0;
}

int recordProcess(jack_nframes_t n, void*) {
    if (stop.load()) return 0;
    // The sender ran before us in this graph cycle (it feeds corvex, which feeds us).
    const uint64_t cycle = senderCycle.load();
    if (!recording.load()) {
        const uint64_t from = recordFrom.load();
        if (from == UINT64_MAX) return 0;
        if (from != cycle) late = true;
        recording = true;
    }
    const uint32_t b = blockCount.load();
    const uint64_t done = recorded.load();
    if (b >= kMaxBlocks || done + n > kMaxFrames) {
        stop = true;
        return 0;
    }
    const auto* l = static_cast<const float*>(jack_port_get_buffer(inputs[0], n));
    const auto* r = static_cast<const float*>(jack_port_get_buffer(inputs[1], n));
    std::memcpy(&left[done], l, n * sizeof(float));
    std::memcpy(&right[done], r, n * sizeof(float));
    blocks[b] = {cycle, n};
    recorded = done + n;
    blockCount = b + 1;
    return 0;
}

void waitFrames(jack_client_t* client, uint64_t frames) {
    const uint64_t until = jack_frame_time(client) + frames;
    for (int i = 0; i < 2000 && jack_frame_time(client) < until; ++i) usleep(5000);
}

void quiet(const char*) {}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: jack-corvex-probe CLIENT PROGRAM [--start N] [--period N]\n");
        return 2;
    }
    const std::string client = argv[1];
    const int program = std::atoi(argv[2]);
    uint32_t newPeriod = 0, startPeriod = 0;
    for (int i = 3; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--period") == 0)
            newPeriod = static_cast<uint32_t>(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--start") == 0)
            startPeriod = static_cast<uint32_t>(std::atoi(argv[i + 1]));

    jack_set_error_function(&quiet);
    sender = jack_client_open("probe-send", JackNoStartServer, nullptr);
    recorder = jack_client_open("probe-rec", JackNoStartServer, nullptr);
    if (!sender || !recorder) {
        std::fprintf(stderr, "jack-corvex-probe: no JACK server\n");
        return 2;
    }
    const uint32_t rate = jack_get_sample_rate(sender);
    midiOut = jack_port_register(sender, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    inputs[0] =
        jack_port_register(recorder, "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    inputs[1] =
        jack_port_register(recorder, "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(sender, sendProcess, nullptr);
    jack_set_process_callback(recorder, recordProcess, nullptr);
    if (!midiOut || !inputs[0] || !inputs[1] || jack_activate(sender) != 0 ||
        jack_activate(recorder) != 0)
        return 2;
    const bool connected =
        jack_connect(sender, jack_port_name(midiOut), (client + ":midi_in").c_str()) == 0 &&
        jack_connect(recorder, (client + ":out_left").c_str(), jack_port_name(inputs[0])) == 0 &&
        jack_connect(recorder, (client + ":out_right").c_str(), jack_port_name(inputs[1])) == 0;
    if (!connected) {
        std::fprintf(stderr, "jack-corvex-probe: cannot connect to %s's ports\n", client.c_str());
        return 2;
    }
    // A period to start from (a run before may have left the server at another).
    if (startPeriod && jack_get_buffer_size(sender) != startPeriod) {
        jack_set_buffer_size(sender, startPeriod);
        for (int i = 0; i < 400 && jack_get_buffer_size(sender) != startPeriod; ++i) usleep(5000);
    }
    const uint32_t firstPeriod = jack_get_buffer_size(sender);
    waitFrames(sender, rate / 10);

    // The first note at 3/8 of a period, held a quarter of a second, heard for half a second.
    noteLength = rate / 4;
    armedFrame = firstPeriod * 3 / 8;
    armedNote = 60;
    waitFrames(sender, rate / 2);
    if (newPeriod) {
        if (jack_set_buffer_size(sender, newPeriod) != 0) {
            std::fprintf(stderr, "jack-corvex-probe: the server refused a period of %u\n",
                         newPeriod);
            return 2;
        }
        for (int i = 0; i < 400 && jack_get_buffer_size(sender) != newPeriod; ++i) usleep(5000);
        waitFrames(sender, rate / 10);
        armedFrame = newPeriod * 5 / 8 + 1;
        armedNote = 67;
        waitFrames(sender, rate / 2);
    }
    stop = true;
    usleep(50000);
    const uint32_t nBlocks = blockCount.load();
    const uint32_t nEvents = writtenCount.load();
    jack_client_close(sender);
    jack_client_close(recorder);

    if (late || nBlocks == 0) {
        std::fprintf(stderr, "jack-corvex-probe: the recording did not start with the note\n");
        return 2;
    }
    // One block per graph cycle, every cycle, or the comparison means nothing.
    uint32_t sizes[2] = {blocks[0].frames, 0};
    for (uint32_t b = 1; b < nBlocks; ++b) {
        if (blocks[b].cycle != blocks[b - 1].cycle + 1) {
            std::fprintf(stderr, "jack-corvex-probe: the recorder missed a cycle after %u\n", b);
            return 2;
        }
        if (blocks[b].frames != sizes[0]) sizes[1] = blocks[b].frames;
    }
    if (newPeriod && sizes[1] != newPeriod) {
        std::fprintf(stderr, "jack-corvex-probe: the period never became %u\n", newPeriod);
        return 2;
    }

    CorvexSynth synth;
    synth.setProgram(program);
    synth.setSampleRate(static_cast<float>(rate));
    synth.reset();
    std::vector<float> wantL(8192), wantR(8192);
    uint64_t offset = 0;
    float peak = 0.0f;
    for (uint32_t b = 0; b < nBlocks; ++b) {
        const Block& block = blocks[b];
        for (uint32_t i = 0; i < nEvents; ++i)
            if (written[i].cycle == block.cycle)
                synth.midi(written[i].bytes, 3, static_cast<int32_t>(written[i].offset),
                           static_cast<int32_t>(block.frames));
        synth.setBlockSize(static_cast<int32_t>(block.frames));
        synth.render(wantL.data(), wantR.data(), static_cast<int32_t>(block.frames));
        for (uint32_t k = 0; k < block.frames; ++k) {
            const float gotL = left[offset + k], gotR = right[offset + k];
            if (std::memcmp(&gotL, &wantL[k], sizeof(float)) != 0 ||
                std::memcmp(&gotR, &wantR[k], sizeof(float)) != 0) {
                std::printf("differs at frame %u of period %u (%u frames): got %.9g %.9g, core "
                            "%.9g %.9g\n",
                            k, b, block.frames, static_cast<double>(gotL),
                            static_cast<double>(gotR), static_cast<double>(wantL[k]),
                            static_cast<double>(wantR[k]));
                for (uint32_t j = b > 3 ? b - 3 : 0; j < nBlocks && j < b + 3; ++j)
                    std::printf("  period %u: cycle %llu, %u frames\n", j,
                                static_cast<unsigned long long>(blocks[j].cycle), blocks[j].frames);
                return 1;
            }
            peak = std::max(peak, std::fabs(gotL));
        }
        offset += block.frames;
    }
    char periods[48];
    std::snprintf(periods, sizeof periods, sizes[1] ? "%u then %u frames" : "%u frames", sizes[0],
                  sizes[1]);
    std::printf("identical: program %d, %u Hz, %u periods of %s, %llu frames, %u MIDI messages, "
                "peak %g\n",
                program, rate, nBlocks, periods, static_cast<unsigned long long>(offset), nEvents,
                static_cast<double>(peak));
    return peak > 0.0f ? 0 : 1;
}
