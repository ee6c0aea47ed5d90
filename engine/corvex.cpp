// Corvex's parameters, programs and host-facing answers. The sound engine is in voice.cpp.
#include "corvex.h"

#include "aeffeditor.h"

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

} // namespace

const int32_t kDeclaredOrder[kNumParams] = {
    kLfoFreq, kLfoHarm, kOscHarm, kLfoShrp, kLfoCent, kLfoPh,    kLfoAmnt,
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
        params = programs[0].values;
    }
    wantEvents(1);
    if (makeEditor) makeEditor(this);
}

Corvex::~Corvex() { delete[] programs; }

// ---- Parameters ------------------------------------------------------------------------------

void Corvex::setParameter(int32_t index, float value) {
    if (float* current = params.field(index)) {
        *current = value;
        if (programs) *programs[curProgram].values.field(index) = value;
    }
    if (editor) editor->setParameter(index, value);
}

float Corvex::getParameter(int32_t index) {
    const float* current = params.field(index);
    return current ? *current : 0.0f;
}

void Corvex::getParameterName(int32_t index, char* text) {
    copyText(text, validIndex(index) ? kParamInfo[index].name : "-", kMaxTextBytes);
}

void Corvex::getParameterLabel(int32_t, char* label) { copyText(label, "-", kMaxTextBytes); }

void Corvex::getParameterDisplay(int32_t index, char* text) {
    if (!text) return;
    const float* current = params.field(index);
    if (!current) {
        copyText(text, "0", kMaxTextBytes);
        return;
    }
    if (index == kLfoPh && *current == 1.0f) {
        copyText(text, "Random", kMaxTextBytes);
        return;
    }
    // Values are stored unclamped; a huge one would print dozens of digits, so the text is
    // bounded to what any host buffer holds.
    std::snprintf(text, kMaxTextBytes, "%.6f", static_cast<double>(*current));
}

bool Corvex::string2parameter(int32_t, char*) { return false; }

// ---- Programs --------------------------------------------------------------------------------

void Corvex::setProgram(int32_t program) {
    if (!programs || program < 0 || program >= kNumPrograms) return;
    curProgram = program;
    const ParamValues values = programs[program].values;
    for (int32_t index : kDeclaredOrder) setParameter(index, *values.field(index));
}

void Corvex::setCurProgram() {
    setProgram(curProgram);
    char name[kProgramNameSize];
    copyText(name, prognames[curProgram], sizeof name);
    setProgramName(name);
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
    else
        copyText(text, name, kProgramNameSize);
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
