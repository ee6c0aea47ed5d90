// SPDX-License-Identifier: GPL-3.0-or-later
// Scores for the tests that play the same notes through the core and through each face: a MIDI
// message at an absolute frame, dense random scores from a seed, and the core's own render of a
// score cut into blocks. Pure functions of their arguments: any thread, one synth per thread.
#pragma once

#include "core/synth.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

// A MIDI message at an absolute frame of a score.
struct ScoreMessage {
    int64_t at;
    uint8_t status, data1, data2;
};

namespace testsupport {

// A dense score of `total` frames: an event every 8 frames on average, several often at one
// frame; note-ons and note-offs over a few notes (so many note-offs name a note that is not
// sounding), pitch bends, all-notes-off, and messages the voice ignores. In time order.
inline std::vector<ScoreMessage> randomScore(uint32_t seed, int64_t total) {
    std::mt19937 random(seed);
    const auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    std::vector<ScoreMessage> score;
    for (int64_t at = pick(16); at < total; at += pick(17)) {
        const auto channel = static_cast<uint8_t>(pick(16));
        const auto note = static_cast<uint8_t>(48 + pick(5) * 7);
        const uint32_t kind = pick(100);
        if (kind < 35) score.push_back({at, static_cast<uint8_t>(0x90 | channel), note, 100});
        else if (kind < 50) score.push_back({at, static_cast<uint8_t>(0x80 | channel), note, 64});
        else if (kind < 60) score.push_back({at, static_cast<uint8_t>(0x90 | channel), note, 0});
        else if (kind < 85)
            score.push_back({at, static_cast<uint8_t>(0xE0 | channel),
                             static_cast<uint8_t>(pick(128)), static_cast<uint8_t>(pick(128))});
        else if (kind < 88) score.push_back({at, 0xB0, 123, 0});
        else if (kind < 90) score.push_back({at, 0xB0, 126, 0});
        else score.push_back({at, 0xB0, 1, static_cast<uint8_t>(pick(128))});  // ignored
    }
    return score;
}

// The score through the core's MIDI entry and render, in blocks of blockAt(n) frames (n counts
// the blocks), each block's messages sent first at their offsets in it, as LV2 and JACK do.
inline std::vector<float> renderScore(CorvexSynth& synth, const std::vector<ScoreMessage>& score,
                                      int64_t total, const std::function<int(int)>& blockAt) {
    std::vector<float> left(static_cast<size_t>(total)), right(left.size());
    size_t next = 0;
    for (int64_t pos = 0, n = 0; pos < total; ++n) {
        const auto len =
            static_cast<int32_t>(std::min<int64_t>(blockAt(static_cast<int>(n)), total - pos));
        for (; next < score.size() && score[next].at < pos + len; ++next) {
            const uint8_t bytes[] = {score[next].status, score[next].data1, score[next].data2};
            synth.midi(bytes, sizeof bytes, static_cast<int32_t>(score[next].at - pos), len);
        }
        synth.render(left.data() + pos, right.data() + pos, len);
        pos += len;
    }
    return left;
}

}  // namespace testsupport
