// SPDX-License-Identifier: GPL-3.0-or-later
// CorvexSynth's parameters and programs. The sound engine is in voice.cpp.
#include "core/synth.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

bool validIndex(int32_t index) { return index >= 0 && index < kNumParams; }

// Where each parameter index sits in the declared order.
constexpr auto kDeclaredPosition = [] {
    std::array<int32_t, kNumParams> position{};
    constexpr int32_t order[kNumParams] = {
        kLfoFreq, kLfoHarm, kOscHarm, kLfoShrp, kLfoCent, kLfoPh,   kLfoAmnt,
        kLfoRand, kOscDamp, kOscShap, kAttack,  kDecay,   kSustain, kRelease,
    };
    for (int32_t i = 0; i < kNumParams; ++i) position[order[i]] = i;
    return position;
}();

// Copies at most capacity - 1 bytes and always terminates; a null source counts as "". Reads no
// further than it copies, so a host's unterminated name is safe.
void copyName(char* dst, const char* src, std::size_t capacity) {
    if (dst && capacity > 0)
        std::snprintf(dst, capacity, "%.*s", static_cast<int>(capacity - 1), src ? src : "");
}

}  // namespace

float* ParamValues::field(int32_t index) {
    switch (index) {
    case kLfoFreq: return &lfoFreq;
    case kLfoHarm: return &lfoHarm;
    case kOscHarm: return &oscHarm;
    case kLfoShrp: return &lfoShrp;
    case kLfoCent: return &lfoCent;
    case kLfoPh: return &lfoPh;
    case kLfoAmnt: return &lfoAmnt;
    case kOscDamp: return &oscDamp;
    case kAttack: return &attack;
    case kDecay: return &decay;
    case kSustain: return &sustain;
    case kRelease: return &release;
    case kLfoRand: return &lfoRand;
    case kOscShap: return &oscShap;
    default: return nullptr;
    }
}

float CurrentValues::load(int32_t index) const {
    if (!validIndex(index)) return 0.0f;
    return slots[kDeclaredPosition[index]].load(std::memory_order_relaxed);
}

bool CurrentValues::store(int32_t index, float value) {
    if (!validIndex(index)) return false;
    slots[kDeclaredPosition[index]].store(value, std::memory_order_relaxed);
    return true;
}

ParamValues CurrentValues::snapshot() const {
    ParamValues values;
    // Field by field in declared order, spelled out: a loop over member pointers stays a loop.
    constexpr auto relaxed = std::memory_order_relaxed;
    values.lfoFreq = slots[0].load(relaxed);
    values.lfoHarm = slots[1].load(relaxed);
    values.oscHarm = slots[2].load(relaxed);
    values.lfoShrp = slots[3].load(relaxed);
    values.lfoCent = slots[4].load(relaxed);
    values.lfoPh = slots[5].load(relaxed);
    values.lfoAmnt = slots[6].load(relaxed);
    values.lfoRand = slots[7].load(relaxed);
    values.oscDamp = slots[8].load(relaxed);
    values.oscShap = slots[9].load(relaxed);
    values.attack = slots[10].load(relaxed);
    values.decay = slots[11].load(relaxed);
    values.sustain = slots[12].load(relaxed);
    values.release = slots[13].load(relaxed);
    static_assert(kNumParams == 14);
    return values;
}

Program::Program() { copyName(name, "Default", sizeof name); }

void Program::init(const float* table, int index) {
    const float* row = table + static_cast<std::ptrdiff_t>(index) * kNumParams;
    for (int32_t i = 0; i < kNumParams; ++i) *values.field(i) = row[i];
}

CorvexSynth::CorvexSynth() : programs(new (std::nothrow) Program[kNumPrograms]) {
    for (int32_t note = 0; note < 128; ++note) noteFrequency[note] = note2freq(note);
    if (!programs) return;
    for (int i = 0; i < kNumPrograms; ++i) {
        programs[i].init(presets, i);
        std::snprintf(programs[i].name, sizeof programs[i].name, "%s", prognames[i]);
    }
    // Start from the program reported as current, so a host that never selects a program still
    // plays "Aquatic" rather than a click per note from all-zero values.
    for (int32_t index = 0; index < kNumParams; ++index)
        params.store(index, *programs[0].values.field(index));
}

CorvexSynth::~CorvexSynth() { delete[] programs; }

// May run on any thread, also while a block renders. The bank entry and the current program index
// are touched through atomic references, since a host may automate from its audio thread while
// its user-interface thread selects a program.
bool CorvexSynth::setParameter(int32_t index, float value) {
    if (!params.store(index, value)) return false;
    if (programs) {
        const int32_t program =
            std::atomic_ref<int32_t>(curProgram).load(std::memory_order_relaxed);
        std::atomic_ref<float>(*programs[program].values.field(index))
            .store(value, std::memory_order_relaxed);
    }
    return true;
}

bool CorvexSynth::setProgram(int32_t program) {
    if (!programs || program < 0 || program >= kNumPrograms) return false;
    std::atomic_ref<int32_t>(curProgram).store(program, std::memory_order_relaxed);
    ParamValues values;
    for (int32_t index = 0; index < kNumParams; ++index)
        *values.field(index) = std::atomic_ref<float>(*programs[program].values.field(index))
                                   .load(std::memory_order_relaxed);
    for (int32_t index : kDeclaredOrder) setParameter(index, *values.field(index));
    return true;
}

int32_t CorvexSynth::getProgram() const {
    return std::atomic_ref<int32_t>(const_cast<int32_t&>(curProgram))
        .load(std::memory_order_relaxed);
}

void CorvexSynth::setProgramName(const char* name) {
    if (!programs || !name) return;
    const int32_t program = getProgram();
    copyName(programs[program].name, name, sizeof programs[program].name);
}

void CorvexSynth::getProgramName(char* name) const {
    if (!name) return;
    copyName(name, programs ? programs[getProgram()].name : "", kProgramNameSize);
}

bool CorvexSynth::getProgramNameIndexed(int32_t index, char* text) const {
    if (!programs || !text || index < 0 || index >= kNumPrograms) return false;
    const char* name = programs[index].name;
    if (std::strcmp(name, "Init") == 0)
        std::snprintf(text, kProgramNameSize, "Init %d", static_cast<int>(index) + 1);
    else copyName(text, name, kProgramNameSize);
    return true;
}
