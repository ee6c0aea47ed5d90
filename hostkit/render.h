// SPDX-License-Identifier: GPL-3.0-or-later
// The offline render loop: MIDI in at exact sample offsets, blocks of audio out.
#pragma once

#include "hostkit/midievent.h"
#include "hostkit/plugin.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace hostkit {

// Receives each finished block: one pointer per plug-in output, `frames` samples each. The
// pointers are valid only during the call.
using BlockSink = std::function<void(const float* const* channels, int32_t frames)>;
// Told how many of the total frames are done, after every block.
using ProgressSink = std::function<void(int64_t done, int64_t total)>;

// Drives a plug-in that is open and started for `totalFrames` frames in blocks of at most the
// plug-in's block size. `events` must be ordered by frame; each is delivered through
// effProcessEvents just before the block that holds its frame, with that block's offset.
// Events at or beyond totalFrames are not delivered. Allocates only before the first block.
void render(Plugin& plugin, const std::vector<TimedMidiEvent>& events, int64_t totalFrames,
            const BlockSink& sink, const ProgressSink& progress = {});

// A quick note: note-on at frame 0, note-off at `offFrame`.
std::vector<TimedMidiEvent> noteEvents(int note, int velocity, int64_t offFrame);

}  // namespace hostkit
