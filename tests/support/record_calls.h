// SPDX-License-Identifier: GPL-3.0-or-later
// Calls on a plug-in's record straight through its dispatcher, for tests that drive the record by
// hand (loading and host callbacks: hostkit).
#pragma once

#include "host/aeffect.h"
#include "score.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

inline intptr_t dispatch(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                         void* ptr = nullptr, float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}
// A text request into a 256-byte buffer filled with 0x7F first, so a missing terminator shows.
std::string dispatchText(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0);

// Plays a score through an opened, started record as a host does: `total` frames through
// processReplacing in blocks of blockAt(n) frames (n counts the blocks), each block's messages sent
// first as one event list at their offsets in it. With ahead, each message is sent that many
// frames early, in the list of an earlier block, announced beyond it. The left output.
std::vector<float> playScore(AEffect* e, const std::vector<ScoreMessage>& score, int total,
                             const std::function<int(int)>& blockAt, int ahead = 0);

namespace hostkit {
class Library;
}
// The same through a new effect from plugin's entry as a DAW sets one up: opened, at rate, told
// the block size (when blockSize > 0), started, on program; closed afterwards. Empty when the
// entry gives no effect.
std::vector<float> playProgramScore(const hostkit::Library& plugin, int program, float rate,
                                    int blockSize, const std::vector<ScoreMessage>& score,
                                    int total, const std::function<int(int)>& blockAt,
                                    int ahead = 0);
