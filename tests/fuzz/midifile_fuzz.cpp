// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the Standard MIDI File reader. Properties: any bytes are either refused with
// MidiFileError or read into messages whose schedule is ordered, never negative, and agrees with
// the per-tick conversion at any sample rate.
#include "fuzz_input.h"
#include "hostkit/midifile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    // The first four bytes pick the sample rate; the rest is the file.
    FuzzInput in(data, 4);
    const uint32_t rate = 1 + in.u32() % 400000;
    hostkit::MidiFile file;
    try {
        file = hostkit::MidiFile::parse(data + 4, size - 4);
    } catch (const hostkit::MidiFileError&) {
        return 0;
    }
    const auto& messages = file.messages();
    const auto events = file.schedule(rate);
    FUZZ_CHECK(events.size() == messages.size());
    int64_t previous = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        FUZZ_CHECK(events[i].frame >= previous);
        FUZZ_CHECK(events[i].frame == file.frameAt(messages[i].tick, rate));
        FUZZ_CHECK((events[i].bytes[0] & 0x80) != 0);
        previous = events[i].frame;
        if (i > 0) FUZZ_CHECK(messages[i].tick >= messages[i - 1].tick);
    }
    return 0;
}
