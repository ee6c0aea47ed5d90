// Corvex's parameters, programs and host-facing answers. The sound engine is in voice.cpp.
#include "engine/corvex.h"

#include "host/aeffeditor.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

struct ParamInfo {
    const char* name;
};

constexpr ParamInfo kParamInfo[kNumParams] = {
    {"LFO freq"}, {"LFO harm"}, {"OSC harm"}, {"LFO shrp"}, {"LFO cent"},
    {"LFO ph"},   {"LFO amnt"}, {"OSC damp"}, {"Attack"},   {"Decay"},
    {"Sustain"},  {"Release"},  {"LFO rand"}, {"OSC shap"},
};

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

// The value the engine renders with for a stored value: clamped to 0-1, NaN and -0 as 0.
float renderedValue(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

}  // namespace

const int32_t kDeclaredOrder[kNumParams] = {
    kLfoFreq, kLfoHarm, kOscHarm, kLfoShrp, kLfoCent, kLfoPh,   kLfoAmnt,
    kLfoRand, kOscDamp, kOscShap, kAttack,  kDecay,   kSustain, kRelease,
};

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
    for (int32_t index = 0; index < kNumParams; ++index) *values.field(index) = load(index);
    return values;
}

Program::Program() { copyText(name, "Default", sizeof name); }

void Program::init(const float* table, int index) {
    const float* row = table + static_cast<std::ptrdiff_t>(index) * kNumParams;
    for (int32_t i = 0; i < kNumParams; ++i) *values.field(i) = row[i];
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

Corvex::Corvex(audioMasterCallback audioMaster, EditorFactory makeEditor)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParams) {
    setNumInputs(0);
    setNumOutputs(2);
    hasVu(false);
    canMono(false);
    canProcessReplacing(true);
    isSynth(true);
    setUniqueID(fourCharCode('O', 'n', 'd', 'r'));

    programs = new (std::nothrow) Program[kNumPrograms];
    if (programs) {
        for (int i = 0; i < kNumPrograms; ++i) {
            programs[i].init(presets, i);
            std::snprintf(programs[i].name, sizeof programs[i].name, "%s", prognames[i]);
        }
        // Start from the program reported as current, so a host that never selects a program
        // still plays "Aquatic" rather than a click per note from all-zero values.
        for (int32_t index = 0; index < kNumParams; ++index)
            params.store(index, *programs[0].values.field(index));
    }
    wantEvents(1);
    if (makeEditor) makeEditor(this);
}

Corvex::~Corvex() { delete[] programs; }

// ---- Parameters ------------------------------------------------------------------------------

// May run on any thread, also while a block renders (see corvex.h). The bank entry and the
// current program index are touched through atomic references, since a host may automate from
// its audio thread while its user-interface thread selects a program.
void Corvex::setParameter(int32_t index, float value) {
    if (params.store(index, value) && programs) {
        const int32_t program =
            std::atomic_ref<int32_t>(curProgram).load(std::memory_order_relaxed);
        std::atomic_ref<float>(*programs[program].values.field(index))
            .store(value, std::memory_order_relaxed);
    }
    if (editor) editor->setParameter(index, value);
}

float Corvex::getParameter(int32_t index) { return params.load(index); }

void Corvex::getParameterName(int32_t index, char* text) {
    copyText(text, validIndex(index) ? kParamInfo[index].name : "-", kMaxParamTextBytes);
}

void Corvex::getParameterLabel(int32_t, char* label) { copyText(label, "-", kMaxParamTextBytes); }

void Corvex::getParameterDisplay(int32_t index, char* text) {
    if (!text) return;
    if (!validIndex(index)) {
        copyText(text, "0", kMaxParamTextBytes);
        return;
    }
    // Values are stored as sent; the text shows what is heard, so it always fits in "%.6f"'s
    // eight characters (a stored 1e30 would need dozens, a stored -0 nine).
    const float value = renderedValue(params.load(index));
    if (index == kLfoPh && value == 1.0f) {
        copyText(text, "Random", kMaxParamTextBytes);
        return;
    }
    std::snprintf(text, kMaxParamTextBytes, "%.6f", static_cast<double>(value));
}

bool Corvex::string2parameter(int32_t, char*) { return false; }

// ---- Programs --------------------------------------------------------------------------------

void Corvex::setProgram(int32_t program) {
    if (!programs || program < 0 || program >= kNumPrograms) return;
    std::atomic_ref<int32_t>(curProgram).store(program, std::memory_order_relaxed);
    ParamValues values;
    for (int32_t index = 0; index < kNumParams; ++index)
        *values.field(index) = std::atomic_ref<float>(*programs[program].values.field(index))
                                   .load(std::memory_order_relaxed);
    for (int32_t index : kDeclaredOrder) setParameter(index, *values.field(index));
}

// Re-sends the current program's values; its name stays as the user or host gave it.
void Corvex::setCurProgram() {
    setProgram(std::atomic_ref<int32_t>(curProgram).load(std::memory_order_relaxed));
}

void Corvex::setProgramName(char* name) {
    if (!programs || !name) return;
    copyText(programs[curProgram].name, name, sizeof programs[curProgram].name);
}

void Corvex::getProgramName(char* name) {
    if (!name) return;
    copyText(name, programs ? programs[curProgram].name : "", kProgramNameSize);
}

bool Corvex::getProgramNameIndexed(int32_t, int32_t index, char* text) {
    if (!programs || !text || index < 0 || index >= kNumPrograms) return false;
    const char* name = programs[index].name;
    if (std::strcmp(name, "Init") == 0)
        std::snprintf(text, kProgramNameSize, "Init %d", static_cast<int>(index) + 1);
    else copyText(text, name, kProgramNameSize);
    return true;
}

// ---- Identity and capabilities ---------------------------------------------------------------

bool Corvex::getEffectName(char* name) {
    copyText(name, "Corvex", kMaxTextBytes);
    return true;
}

bool Corvex::getVendorString(char* text) {
    copyText(text, "Ondrel", kMaxTextBytes);
    return true;
}

bool Corvex::getProductString(char* text) {
    copyText(text, "Corvex", kMaxTextBytes);
    return true;
}

int32_t Corvex::canDo(char* text) {
    if (!text) return 0;
    if (std::strcmp(text, "receiveVstMidiEvent") == 0) return 1;
    if (std::strcmp(text, "receiveVstEvents") == 0) return 1;
    return 0;
}

int32_t Corvex::vendorSpecific(int32_t lArg1, intptr_t lArg2, void* ptrArg, float floatArg) {
    if (editor && lArg1 == fourCharCode('s', 't', 'C', 'A') &&
        lArg2 == fourCharCode('W', 'h', 'e', 'e'))
        return editor->onWheel(floatArg) ? 1 : 0;
    return AudioEffectX::vendorSpecific(lArg1, lArg2, ptrArg, floatArg);
}

bool Corvex::keysRequired() { return editor ? editor->keysRequired() : false; }

void Corvex::setBlockSize(int32_t size) { AudioEffectX::setBlockSize(size); }

void Corvex::resume() {
    wantEvents(1);
    if (editor) editor->resume();
}

void Corvex::suspend() {
    if (editor) editor->suspend();
}
