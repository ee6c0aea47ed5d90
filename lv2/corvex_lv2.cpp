// SPDX-License-Identifier: GPL-3.0-or-later
// Corvex's LV2 answers: the run's controls and MIDI events to the core, then one render.
#include "lv2/corvex_lv2.h"

#include <lv2/atom/atom.h>

#include <algorithm>

namespace corvex_lv2 {

CorvexLv2::CorvexLv2(double sampleRate, const Urids& ids, int32_t maxBlock) : urids(ids) {
    synth.setSampleRate(static_cast<float>(sampleRate));
    if (maxBlock > 0) synth.setBlockSize(maxBlock);
}

void CorvexLv2::connectPort(uint32_t port, void* data) {
    if (port < static_cast<uint32_t>(kNumParams)) controls[port] = static_cast<const float*>(data);
    else if (port == kMidiInPort) events = data;
    else if (port == kLeftOutPort) left = static_cast<float*>(data);
    else if (port == kRightOutPort) right = static_cast<float*>(data);
}

void CorvexLv2::activate() { synth.reset(); }

void CorvexLv2::run(uint32_t frames) {
    takeControls();
    takeEvents(frames);
    render(frames);
}

void CorvexLv2::takeControls() {
    // Each port is read once, so a host writing it meanwhile cannot hand the core two values in
    // one run; the core makes whatever it gets safe, as for the VST2 face.
    for (int32_t index = 0; index < kNumParams; ++index)
        if (const float* port = controls[index]) synth.setParameter(index, *port);
}

void CorvexLv2::takeEvents(uint32_t frames) {
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(events);
    if (!sequence || sequence->atom.type != urids.atomSequence) return;
    const uint64_t size = sequence->atom.size;
    if (size < sizeof(LV2_Atom_Sequence_Body)) return;
    const bool inBeats = urids.beatTime != 0 && sequence->body.unit == urids.beatTime;
    const auto* body = reinterpret_cast<const uint8_t*>(&sequence->body);
    const auto block = static_cast<int32_t>(std::min<uint32_t>(frames, INT32_MAX));

    // Offsets are 64-bit, so no stated size can wrap them; every event is checked to lie inside
    // the sequence before its body is read.
    for (uint64_t offset = sizeof(LV2_Atom_Sequence_Body);
         offset + sizeof(LV2_Atom_Event) <= size;) {
        const auto* event = reinterpret_cast<const LV2_Atom_Event*>(body + offset);
        const uint64_t bodySize = event->body.size;
        if (bodySize > size - offset - sizeof(LV2_Atom_Event)) return;
        offset += (sizeof(LV2_Atom_Event) + bodySize + 7u) & ~uint64_t{7};

        if (event->body.type != urids.midiEvent) continue;
        // The core places the frame inside the run; only a 64-bit time beyond what it takes
        // is narrowed here, to the same ends.
        const int64_t frame =
            inBeats ? 0 : std::clamp<int64_t>(event->time.frames, -1, int64_t{INT32_MAX});
        synth.midi(reinterpret_cast<const uint8_t*>(event + 1), bodySize,
                   static_cast<int32_t>(frame), block);
    }
}

void CorvexLv2::render(uint32_t frames) {
    // The core renders at most INT32_MAX frames a call; no host asks for more.
    const auto count = static_cast<int32_t>(std::min<uint32_t>(frames, INT32_MAX));
    if (left || right) {
        // One channel is enough: the core writes the same sample to both.
        synth.render(left ? left : right, right ? right : left, count);
        return;
    }
    for (int32_t done = 0; done < count; done += kScratchFrames) {
        const int32_t n = std::min(kScratchFrames, count - done);
        synth.render(scratch, scratch, n);
    }
}

}  // namespace corvex_lv2
