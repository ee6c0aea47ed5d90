// SPDX-License-Identifier: GPL-3.0-or-later
// The parameter table, the factory bank's access and the value-to-text rules.
#include "core/params.h"

#include <cmath>
#include <cstdio>

const ParamInfo kParamInfo[kNumParams] = {
    {"LFO freq", "LFO Frequency", "lfo_freq", "-", 0.0f, 1.0f},
    {"LFO harm", "LFO Harmonicity", "lfo_harm", "-", 0.0f, 1.0f},
    {"OSC harm", "Osc Harmonicity", "osc_harm", "-", 0.0f, 1.0f},
    {"LFO shrp", "LFO Sharpness", "lfo_shrp", "-", 0.0f, 1.0f},
    {"LFO cent", "LFO Center", "lfo_cent", "-", 0.0f, 1.0f},
    {"LFO ph", "LFO Phase", "lfo_ph", "-", 0.0f, 1.0f},
    {"LFO amnt", "LFO Amount", "lfo_amnt", "-", 0.0f, 1.0f},
    {"OSC damp", "Harmonic Damp", "osc_damp", "-", 0.0f, 1.0f},
    {"Attack", "Attack", "attack", "-", 0.0f, 1.0f},
    {"Decay", "Decay", "decay", "-", 0.0f, 1.0f},
    {"Sustain", "Sustain", "sustain", "-", 0.0f, 1.0f},
    {"Release", "Release", "release", "-", 0.0f, 1.0f},
    {"LFO rand", "LFO Randomness", "lfo_rand", "-", 0.0f, 1.0f},
    {"OSC shap", "Osc Shaping", "osc_shap", "-", 0.0f, 1.0f},
};

const int32_t kDeclaredOrder[kNumParams] = {
    kLfoFreq, kLfoHarm, kOscHarm, kLfoShrp, kLfoCent, kLfoPh,   kLfoAmnt,
    kLfoRand, kOscDamp, kOscShap, kAttack,  kDecay,   kSustain, kRelease,
};

FactoryProgram factoryProgram(int32_t index) {
    if (index < 0) index = 0;
    if (index >= kNumPrograms) index = kNumPrograms - 1;
    return {prognames[index], presets + static_cast<std::ptrdiff_t>(index) * kNumParams};
}

float defaultValue(int32_t index) {
    return index >= 0 && index < kNumParams ? presets[index] : 0.0f;
}

float renderedValue(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

void formatParameter(int32_t index, float value, char* text, std::size_t capacity) {
    if (!text || capacity == 0) return;
    if (index < 0 || index >= kNumParams) {
        std::snprintf(text, capacity, "0");
        return;
    }
    // The text shows what is heard, so it always fits in "%.6f"'s eight characters (a stored
    // 1e30 would need dozens, a stored -0 nine).
    const float shown = renderedValue(value);
    if (index == kLfoPh && shown == 1.0f) std::snprintf(text, capacity, "Random");
    else std::snprintf(text, capacity, "%.6f", static_cast<double>(shown));
}

bool string2float(const char* text, float& value) {
    if (!text) return false;
    float read = 0.0f;
    if (std::sscanf(text, "%f", &read) != 1) return false;
    if (std::isnan(read)) return false;
    if (read < 0.0f) read = 0.0f;
    if (read > 1.0f) read = 1.0f;
    value = read;
    return true;
}
