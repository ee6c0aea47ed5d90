// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the number reader behind typed values (string2float) and the effect's value-to-
// text helpers. Properties: a read value is finite and within 0-1, an unread one is left alone;
// every text helper terminates its answer within the 9 bytes hosts give it and writes no further.
#include "vst2/corvex.h"
#include "fuzz_input.h"
#include "host/audioeffect.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

class TextEffect : public AudioEffect {
public:
    TextEffect() : AudioEffect(nullptr, 1, 1) {}
    void process(float**, float**, int32_t) override {}
};

void checkText(const unsigned char* buffer, std::size_t size) {
    FUZZ_CHECK(std::memchr(buffer, '\0', 9) != nullptr);
    for (std::size_t i = 9; i < size; ++i) FUZZ_CHECK(buffer[i] == 0xA5);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    static TextEffect effect;
    effect.setSampleRate(in.interestingFloat());
    for (int round = 0; round < 8 && !in.empty(); ++round) {
        unsigned char buffer[64];
        std::memset(buffer, 0xA5, sizeof buffer);
        char* text = reinterpret_cast<char*>(buffer);
        const float value = in.interestingFloat();
        switch (in.u8() % 6) {
        case 0: effect.float2string(value, text); break;
        case 1: effect.dB2string(value, text); break;
        case 2: effect.Hz2string(value, text); break;
        case 3: effect.ms2string(value, text); break;
        case 4: effect.long2string(in.interestingInt(), text); break;
        default: {
            const std::string typed = in.text(512);
            float v = 0.25f;
            if (string2float(typed.c_str(), v)) FUZZ_CHECK(v >= 0.0f && v <= 1.0f);
            else FUZZ_CHECK(v == 0.25f);
            continue;
        }
        }
        checkText(buffer, sizeof buffer);
    }
    return 0;
}
