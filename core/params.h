// SPDX-License-Identifier: GPL-3.0-or-later
// What Corvex's parameters and programs are, as plain data: names, symbols, ranges, defaults, the
// 64 factory programs and the rule that turns a value into text. Every face, the window and the
// tools read them from here, and the data files other formats need are generated from them, so
// nothing is typed twice. Constant data: any thread.
#pragma once

#include <cstddef>
#include <cstdint>

enum CorvexParam : int32_t {
    kLfoFreq = 0,
    kLfoHarm,
    kOscHarm,
    kLfoShrp,
    kLfoCent,
    kLfoPh,
    kLfoAmnt,
    kOscDamp,
    kAttack,
    kDecay,
    kSustain,
    kRelease,
    kLfoRand,
    kOscShap,
    kNumParams
};

constexpr int32_t kNumPrograms = 64;
constexpr int kProgramNameSize = 24;  // terminator included

struct ParamInfo {
    const char* name;      // as hosts list it, at most 8 characters ("LFO freq")
    const char* longName;  // as the window labels it ("LFO Frequency")
    const char* symbol;    // short, stable, [a-z0-9_]: for formats that name ports ("lfo_freq")
    const char* label;     // the unit hosts show beside the value
    float minimum, maximum;
};
// Indexed by CorvexParam.
extern const ParamInfo kParamInfo[kNumParams];

// Every value is normalised; a program's values are in index order.
struct FactoryProgram {
    const char* name;
    const float* values;  // kNumParams of them
};
FactoryProgram factoryProgram(int32_t index);  // index 0-63; clamped into range
// A parameter's default: its value in program 0, which a new instance starts from.
float defaultValue(int32_t index);

// Factory bank: 64 x 14 values in parameter-index order, and the 64 names.
extern const float presets[kNumPrograms * kNumParams];
extern const char* const prognames[kNumPrograms];

// Parameter indices in the order a program's values are declared (and sent when one is chosen).
extern const int32_t kDeclaredOrder[kNumParams];

// The value the engine renders with for a stored one: clamped to 0-1, NaN and -0 as 0.
float renderedValue(float value);

// The value as text: the rendered value with six decimals ("0.500000"), "Random" for "LFO ph" at
// exactly 1. At most capacity bytes are written, terminator included; nothing when text is null
// or capacity 0. An index outside 0-13 gives "0".
void formatParameter(int32_t index, float value, char* text, std::size_t capacity);

// Reads a leading decimal number as a "%f" scan does and stores it clamped to 0-1; a text with
// no number leaves `value` as it was. Returns whether a number was read.
bool string2float(const char* text, float& value);
