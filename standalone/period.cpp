// SPDX-License-Identifier: GPL-3.0-or-later
// One period of the standalone's sound.
#include "standalone/period.h"

#include "core/midi.h"

#include <algorithm>

namespace corvex_standalone {

bool PeriodProcessor::takeProgramChange(int32_t& program) {
    uint8_t value = 0;
    bool any = false;
    while (programChanges.pop(value)) any = true;
    if (any) program = value;
    return any;
}

void PeriodProcessor::begin(int32_t count, uint32_t rate) {
    if (rate != synthRate) {
        synth.setSampleRate(static_cast<float>(rate));
        synthRate = rate;
    }
    synth.setBlockSize(count);
    frames = count;
    moveCount = 0;
    MidiMessage message;
    while (notes.pop(message)) {
        const uint8_t bytes[3] = {message.status, message.data1, message.data2};
        synth.midi(bytes, sizeof bytes, 0, frames);
    }
}

void PeriodProcessor::midi(const uint8_t* bytes, std::size_t size, int32_t frame) {
    const DecodedMidi m = decodeMidi(bytes, size);
    if (m.kind == MidiKind::kNone) return;
    midiCount.fetch_add(1, std::memory_order_relaxed);
    if (m.kind == MidiKind::kProgramChange) {
        // Selecting a program changes the bank's state and the window: the main thread's.
        programChanges.push(m.data1);
        return;
    }
    if (m.kind == MidiKind::kControlChange) {
        const int32_t index = learn.take(m.data1);
        if (index >= 0) {
            const float value = MidiLearn::valueOf(m.data2);
            // A period's moves are in time order; one out of order takes the latest frame so far.
            int32_t at = std::clamp(frame, 0, frames > 0 ? frames - 1 : 0);
            if (moveCount > 0) at = std::max(at, moves[moveCount - 1].frame);
            if (moveCount < kMaxMoves) {
                moves[moveCount++] = {at, index, value};
            } else {
                lateValue[index] = value;
                late[index] = true;
            }
            return;
        }
    }
    synth.midi(bytes, size, frame, frames);
}

void PeriodProcessor::render(float* left, float* right) {
    // The synth renders the same samples however its blocks are cut, so a cut at each move
    // changes nothing but when the value is heard.
    int32_t pos = 0;
    for (int32_t i = 0; i < moveCount; ++i) {
        const Move& move = moves[i];
        if (move.frame > pos) {
            synth.render(left + pos, right + pos, move.frame - pos);
            pos = move.frame;
        }
        synth.setParameter(move.index, move.value);
        if (listener) listener->parameterMoved(move.index, move.value);
    }
    if (frames > pos) synth.render(left + pos, right + pos, frames - pos);
    for (int32_t index = 0; index < kNumParams; ++index)
        if (late[index]) {
            late[index] = false;
            synth.setParameter(index, lateValue[index]);
            if (listener) listener->parameterMoved(index, lateValue[index]);
        }
    moveCount = 0;
}

}  // namespace corvex_standalone
