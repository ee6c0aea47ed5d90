// SPDX-License-Identifier: GPL-3.0-or-later
// alsa-raw-check: checks that what corvex wrote to an ALSA device (recorded by ALSA's file
// plug-in as raw interleaved stereo) is exactly what the core renders for the same program, rate
// and period, with the same messages at the same frames. Its own conversion to integers, written
// apart from corvex's, so a fault in either shows.
//   alsa-raw-check RAW f32|s32|s16 PROGRAM RATE PERIOD MESSAGES MIN_FRAMES
// MESSAGES as corvex's CORVEX_TEST_NOTES ("frame:status:data1:data2,..."). Exit status 0 when the
// file holds at least MIN_FRAMES whole frames, all identical, and not silent; 1 otherwise; 2 when
// it could not run.
#include "core/synth.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Message {
    uint64_t frame;
    uint8_t bytes[3];
    int size;
};

bool parse(const std::string& text, std::vector<Message>& out) {
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        unsigned long long f[4] = {};
        std::stringstream fields(item);
        std::string field;
        int n = 0;
        while (n < 4 && std::getline(fields, field, ':')) f[n++] = std::stoull(field, nullptr, 0);
        if (n != 4) return false;
        Message m{
            f[0],
            {static_cast<uint8_t>(f[1]), static_cast<uint8_t>(f[2]), static_cast<uint8_t>(f[3])},
            (f[1] & 0xE0) == 0xC0 ? 2 : 3};
        out.push_back(m);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Message& a, const Message& b) { return a.frame < b.frame; });
    return true;
}

int64_t integer(float x, double full) {
    if (std::isnan(x)) return 0;
    const double scaled = std::llround(std::clamp(static_cast<double>(x), -1.0, 1.0) * full);
    return static_cast<int64_t>(std::clamp(scaled, -full, full - 1.0));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: alsa-raw-check RAW f32|s32|s16 PROGRAM RATE PERIOD MESSAGES "
                             "MIN_FRAMES\n");
        return 2;
    }
    const std::string format = argv[2];
    const int program = std::atoi(argv[3]);
    const int rate = std::atoi(argv[4]);
    const int period = std::atoi(argv[5]);
    const auto minFrames = std::strtoull(argv[7], nullptr, 10);
    const std::size_t sampleBytes = format == "s16" ? 2 : 4;
    std::vector<Message> messages;
    if ((format != "f32" && format != "s32" && format != "s16") || rate <= 0 || period <= 0 ||
        !parse(argv[6], messages)) {
        std::fprintf(stderr, "alsa-raw-check: bad arguments\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> raw((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
    const uint64_t frames = raw.size() / (2 * sampleBytes);
    if (frames < minFrames) {
        std::printf("only %llu frames recorded, wanted %llu\n",
                    static_cast<unsigned long long>(frames),
                    static_cast<unsigned long long>(minFrames));
        return 1;
    }

    CorvexSynth synth;
    synth.setProgram(program);
    synth.setSampleRate(static_cast<float>(rate));
    synth.reset();
    std::vector<float> left(static_cast<std::size_t>(period)), right(left.size());
    std::size_t next = 0;
    float peak = 0.0f;
    for (uint64_t start = 0; start < frames; start += static_cast<uint64_t>(period)) {
        for (; next < messages.size() && messages[next].frame < start + period; ++next)
            synth.midi(messages[next].bytes, messages[next].size,
                       static_cast<int32_t>(messages[next].frame - start), period);
        synth.setBlockSize(period);
        synth.render(left.data(), right.data(), period);
        for (uint64_t k = 0; k < static_cast<uint64_t>(period) && start + k < frames; ++k) {
            const char* at = raw.data() + (start + k) * (2 * sampleBytes);
            for (int channel = 0; channel < 2; ++channel) {
                const float want = (channel ? right : left)[k];
                const char* sample = at + channel * sampleBytes;
                bool same = false;
                double got = 0.0;
                if (format == "f32") {
                    float f = 0.0f;
                    std::memcpy(&f, sample, 4);
                    same = std::bit_cast<uint32_t>(f) == std::bit_cast<uint32_t>(want);
                    got = f;
                } else if (format == "s32") {
                    int32_t v = 0;
                    std::memcpy(&v, sample, 4);
                    same = v == integer(want, 2147483648.0);
                    got = v;
                } else {
                    int16_t v = 0;
                    std::memcpy(&v, sample, 2);
                    same = v == integer(want, 32768.0);
                    got = v;
                }
                if (!same) {
                    const unsigned long long frame = start + k;
                    std::printf("differs at frame %llu (period %llu, frame %llu of it), channel "
                                "%d: got %.9g, core %.9g\n",
                                frame, static_cast<unsigned long long>(start / period),
                                static_cast<unsigned long long>(k), channel, got,
                                static_cast<double>(want));
                    return 1;
                }
                peak = std::max(peak, std::fabs(want));
            }
        }
    }
    std::printf("identical: program %d, %d Hz, periods of %d, %llu frames as %s, %zu messages, "
                "peak %g\n",
                program, rate, period, static_cast<unsigned long long>(frames), format.c_str(),
                messages.size(), static_cast<double>(peak));
    return peak > 0.0f ? 0 : 1;
}
