// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the LV2 face's event timing in a real host: compares what Ardour exported of Corvex
// (tests/ardour_lv2_render.lua) with the core's own render of the same notes, bit for bit.
//   ardour-render-check EXPORT.wav SCORE
// SCORE is what the Lua script wrote: "rate R", "block B", "phase P", "frames N", then one line
// per MIDI message, "event FRAME STATUS DATA1 DATA2", FRAME counted from the export's start as
// Ardour's tempo map places it. Ardour's cycles of B frames start at frame P of the export (and
// every B frames on); the core renders the messages in the same blocks. Exit status 0 when both
// channels are identical (a zero may have lost its sign), silent before the first note and sounding
// right after it; 1 when not; 77 (skipped) when there is no export.
#include "core/synth.h"

#include "score.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Score {
    int rate = 0, block = 0, phase = 0;
    int64_t frames = 0;
    std::vector<ScoreMessage> messages;
};

bool readScore(const char* path, Score& score) {
    FILE* file = std::fopen(path, "r");
    if (!file) return false;
    char key[16];
    bool ok = true;
    while (ok && std::fscanf(file, "%15s", key) == 1) {
        const std::string k = key;
        long long a = 0;
        unsigned status = 0, data1 = 0, data2 = 0;
        if (k == "rate") ok = std::fscanf(file, "%d", &score.rate) == 1;
        else if (k == "block") ok = std::fscanf(file, "%d", &score.block) == 1;
        else if (k == "phase") ok = std::fscanf(file, "%d", &score.phase) == 1;
        else if (k == "frames") {
            ok = std::fscanf(file, "%lld", &a) == 1;
            score.frames = a;
        } else if (k == "event") {
            ok = std::fscanf(file, "%lld %u %u %u", &a, &status, &data1, &data2) == 4 &&
                 status < 256 && data1 < 128 && data2 < 128;
            score.messages.push_back({a, static_cast<uint8_t>(status), static_cast<uint8_t>(data1),
                                      static_cast<uint8_t>(data2)});
        } else ok = false;
    }
    std::fclose(file);
    // The core takes them in time order; messages of one frame keep the order the score gives.
    std::stable_sort(score.messages.begin(), score.messages.end(),
                     [](const ScoreMessage& a, const ScoreMessage& b) { return a.at < b.at; });
    return ok && score.rate > 0 && score.block > 0 && score.phase >= 0 &&
           score.phase < score.block && score.frames > 0 && !score.messages.empty();
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ardour-render-check EXPORT.wav SCORE\n");
        return 1;
    }
    SF_INFO info{};
    SNDFILE* wav = sf_open(argv[1], SFM_READ, &info);
    if (!wav) {
        std::printf("skipped: no export from Ardour at %s\n", argv[1]);
        return 77;
    }
    Score score;
    if (!readScore(argv[2], score)) {
        std::printf("FAIL: unreadable score %s\n", argv[2]);
        return 1;
    }
    // A float file keeps the host's samples as they were; anything else has been converted.
    if ((info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT || info.channels != 2 ||
        info.samplerate != score.rate || info.frames != score.frames) {
        std::printf("FAIL: export is format 0x%x, %d channels, %d Hz, %lld frames; wanted 32-bit "
                    "float, 2 channels, %d Hz, %lld frames\n",
                    info.format, info.channels, info.samplerate,
                    static_cast<long long>(info.frames), score.rate,
                    static_cast<long long>(score.frames));
        sf_close(wav);
        return 1;
    }
    std::vector<float> got(static_cast<size_t>(info.frames) * 2);
    const sf_count_t read = sf_readf_float(wav, got.data(), info.frames);
    sf_close(wav);
    if (read != info.frames) {
        std::printf("FAIL: read %lld of %lld frames\n", static_cast<long long>(read),
                    static_cast<long long>(info.frames));
        return 1;
    }

    // The instance Ardour plays is freshly made, at the defaults its control ports start with:
    // program 0's values.
    CorvexSynth synth;
    synth.setSampleRate(static_cast<float>(score.rate));
    synth.setBlockSize(score.block);
    synth.reset();
    const std::vector<float> want =
        testsupport::renderScore(synth, score.messages, score.frames, [&](int n) {
            return n == 0 && score.phase > 0 ? score.phase : score.block;
        });

    // Bit for bit, but for the sign of zero: on the way to the export Ardour adds the track's
    // samples into buffers it has cleared (bypassing both panners does not change that), and
    // 0 + -0 is +0 in IEEE arithmetic. The first frame of a note from silence is such a -0 from
    // the core: its envelope starts at 0.
    int64_t signedZeros = 0;
    for (int64_t i = 0; i < score.frames; ++i)
        for (int c = 0; c < 2; ++c) {
            const float g = got[static_cast<size_t>(i) * 2 + c];
            const float w = want[static_cast<size_t>(i)];
            if (sameBits(g, w)) continue;
            if (g == 0.0f && w == 0.0f) {
                ++signedZeros;
                continue;
            }
            std::printf("FAIL: first difference at frame %lld (%lld into its cycle of %d), "
                        "channel %d: Ardour %.9g, core %.9g\n",
                        static_cast<long long>(i),
                        static_cast<long long>((i + score.block - score.phase) % score.block),
                        score.block, c, static_cast<double>(g), static_cast<double>(w));
            return 1;
        }

    // Identical to the core could still mean both are silent, or the messages lie where cycles
    // start and would not show an event put at its cycle's first frame.
    for (const ScoreMessage& m : score.messages)
        if ((m.at - score.phase) % score.block == 0) {
            std::printf("FAIL: a message at frame %lld, where a cycle starts\n",
                        static_cast<long long>(m.at));
            return 1;
        }
    const int64_t first = score.messages.front().at;
    const auto silent = [&](int64_t i) {
        return got[static_cast<size_t>(i) * 2] == 0.0f &&
               got[static_cast<size_t>(i) * 2 + 1] == 0.0f;
    };
    for (int64_t i = 0; i < first; ++i)
        if (!silent(i)) {
            std::printf("FAIL: sound at frame %lld, before the first note at %lld\n",
                        static_cast<long long>(i), static_cast<long long>(first));
            return 1;
        }
    int64_t sounding = first;
    while (sounding < score.frames && silent(sounding)) ++sounding;
    if (sounding - first > 16) {
        std::printf("FAIL: silent from the first note at %lld until frame %lld\n",
                    static_cast<long long>(first), static_cast<long long>(sounding));
        return 1;
    }
    std::printf("identical: %lld frames, %zu messages in blocks of %d from frame %d (%lld zeros "
                "of the other sign); silent before frame %lld, sounding from %lld\n",
                static_cast<long long>(score.frames), score.messages.size(), score.block,
                score.phase, static_cast<long long>(signedZeros), static_cast<long long>(first),
                static_cast<long long>(sounding));
    return 0;
}
