// SPDX-License-Identifier: GPL-3.0-or-later
// AudioEffect: the record, its trampolines, the base dispatcher (opcodes 0-24), the base host
// requests and the value-to-text helpers.
#include "host/audioeffect.h"

#include "host/aeffeditor.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

void* gInstance = nullptr;

AudioEffect* effectOf(AEffect* e) { return e ? static_cast<AudioEffect*>(e->object) : nullptr; }

// Integer conversion of a host-supplied float that is defined for every input.
int32_t truncateToInt(double v) {
    if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
    return static_cast<int32_t>(v);
}

}  // namespace

void* GetInstance() { return gInstance; }
void setInstance(void* module) { gInstance = module; }

void copyText(char* dst, const char* src, std::size_t capacity) {
    if (!dst || capacity == 0) return;
    if (!src) src = "";
    std::size_t n = 0;
    while (n + 1 < capacity && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
}

AudioEffect::AudioEffect(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams) {
    std::memset(&cEffect, 0, sizeof(cEffect));
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffectClass;
    cEffect.process = processClass;
    cEffect.setParameter = setParameterClass;
    cEffect.getParameter = getParameterClass;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = fourCharCode('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = processClassReplacing;
}

AudioEffect::~AudioEffect() { delete editor; }

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    setFlag(effFlagsHasEditor, newEditor != nullptr);
}

// ---- Trampolines -----------------------------------------------------------------------------

intptr_t AudioEffect::dispatchEffectClass(AEffect* e, int32_t opcode, int32_t index, intptr_t value,
                                          void* ptr, float opt) {
    AudioEffect* effect = effectOf(e);
    if (!effect) return 0;
    if (opcode == effClose) {
        effect->dispatcher(opcode, index, value, ptr, opt);
        // Hosts close instances with their windows still open (closing a project): the window,
        // its views and its window-system connection go first, while the whole effect they talk
        // to still exists.
        if (effect->editor) effect->editor->close();
        delete effect;
        return 1;
    }
    return effect->dispatcher(opcode, index, value, ptr, opt);
}

void AudioEffect::processClass(AEffect* e, float** inputs, float** outputs, int32_t sampleFrames) {
    if (AudioEffect* effect = effectOf(e)) effect->process(inputs, outputs, sampleFrames);
}

void AudioEffect::processClassReplacing(AEffect* e, float** inputs, float** outputs,
                                        int32_t sampleFrames) {
    if (AudioEffect* effect = effectOf(e)) effect->processReplacing(inputs, outputs, sampleFrames);
}

void AudioEffect::setParameterClass(AEffect* e, int32_t index, float value) {
    if (AudioEffect* effect = effectOf(e)) effect->setParameter(index, value);
}

float AudioEffect::getParameterClass(AEffect* e, int32_t index) {
    AudioEffect* effect = effectOf(e);
    return effect ? effect->getParameter(index) : 0.0f;
}

// ---- Base behaviour --------------------------------------------------------------------------

void AudioEffect::setParameter(int32_t, float) {}
float AudioEffect::getParameter(int32_t) { return 0.0f; }
void AudioEffect::processReplacing(float**, float**, int32_t) {}
void AudioEffect::setProgramName(char*) {}
void AudioEffect::getProgramName(char* name) { copyText(name, "", 1); }
void AudioEffect::getParameterLabel(int32_t, char* label) { copyText(label, "", 1); }
void AudioEffect::getParameterDisplay(int32_t, char* text) { copyText(text, "", 1); }
void AudioEffect::getParameterName(int32_t, char* text) { copyText(text, "", 1); }
int32_t AudioEffect::getChunk(void**, bool) { return 0; }
int32_t AudioEffect::setChunk(void*, int32_t, bool) { return 0; }

intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                 float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effOpen: open(); break;
    case effClose: close(); break;
    case effSetProgram:
        // Compared at full width: a value of 2^32 must not alias program 0.
        if (value >= 0 && value < numPrograms) setProgram(static_cast<int32_t>(value));
        break;
    case effGetProgram: return getProgram();
    case effSetProgramName:
        if (text) setProgramName(text);
        break;
    case effGetProgramName:
        if (text) getProgramName(text);
        break;
    case effGetParamLabel:
        if (text) getParameterLabel(index, text);
        break;
    case effGetParamDisplay:
        if (text) getParameterDisplay(index, text);
        break;
    case effGetParamName:
        if (text) getParameterName(index, text);
        break;
    case effGetVu: return truncateToInt(static_cast<double>(getVu()) * 32767.0);
    case effSetSampleRate: setSampleRate(opt); break;
    case effSetBlockSize: setBlockSize(static_cast<int32_t>(value)); break;
    case effMainsChanged:
        if (value == 0) suspend();
        else resume();
        break;
    case effEditGetRect:
        if (editor && ptr) return editor->getRect(static_cast<ERect**>(ptr));
        break;
    case effEditOpen:
        if (editor) return editor->open(ptr);
        break;
    case effEditClose:
        if (editor) editor->close();
        break;
    case effEditIdle:
        if (editor) editor->idle();
        break;
    case effIdentify: return fourCharCode('N', 'v', 'E', 'f');
    case effGetChunk:
        if (ptr) return getChunk(static_cast<void**>(ptr), index != 0);
        break;
    case effSetChunk:
        if (ptr) return setChunk(ptr, static_cast<int32_t>(value), index != 0);
        break;
    default: break;
    }
    return 0;
}

// ---- Requests to the host --------------------------------------------------------------------

intptr_t AudioEffect::callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                               float opt) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

void AudioEffect::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

int32_t AudioEffect::getMasterVersion() {
    if (!audioMaster) return 1;
    const intptr_t version = callHost(audioMasterVersion);
    return version == 0 ? 1 : static_cast<int32_t>(version);
}

int32_t AudioEffect::getCurrentUniqueId() {
    return static_cast<int32_t>(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle() { callHost(audioMasterIdle); }

bool AudioEffect::isInputConnected(int32_t input) {
    if (!audioMaster) return true;
    return callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(int32_t output) {
    if (!audioMaster) return true;
    return callHost(audioMasterPinConnected, output, 1) == 0;
}

// ---- Value-to-text helpers -------------------------------------------------------------------
// Each writes at most 8 visible characters and the terminator.

void AudioEffect::float2string(float value, char* text) {
    if (!text) return;
    double v = value;
    if (std::isnan(v)) {
        copyText(text, "NaN", 9);
        return;
    }
    const bool negative = v < 0;
    if (negative) {
        v = -v;
        if (v > 9999999.0) {
            copyText(text, "Huge!", 9);
            return;
        }
    } else if (v > 99999999.0) {
        copyText(text, "Huge!", 9);
        return;
    }

    // Integer digits, least significant first; digits are truncated remainders.
    char digits[16];
    int numDigits = 0;
    double integ = std::floor(v);
    do {
        digits[numDigits++] = static_cast<char>('0' + static_cast<int>(std::fmod(integ, 10.0)));
        integ /= 10.0;
    } while (integ >= 1.0 && numDigits < 9);

    char out[16];
    int n = 0;
    if (negative) out[n++] = '-';
    for (int i = numDigits - 1; i >= 0; --i) out[n++] = digits[i];
    // An integer part that leaves no room for the point is shown whole, without one: dropping
    // a leading digit instead would show a wrong number.
    if (n < 8) out[n++] = '.';
    const int fractionDigits = 8 - n;
    double m = std::fmod(v, 1.0) * std::pow(10.0, fractionDigits);
    for (int i = fractionDigits - 1; i >= 0; --i) {
        if (m <= 0) {
            out[n + i] = '0';
        } else {
            out[n + i] = static_cast<char>('0' + static_cast<int>(std::fmod(m, 10.0)));
            m /= 10.0;
        }
    }
    n += fractionDigits;
    out[n] = '\0';
    copyText(text, out, 9);
}

void AudioEffect::long2string(int32_t value, char* text) {
    if (!text) return;
    if (value > 99999999) {
        copyText(text, "Huge!", 9);
        return;
    }
    char scratch[32];
    std::snprintf(scratch, sizeof scratch, "%7d", static_cast<int>(value));
    copyText(text, scratch, 9);
}

void AudioEffect::dB2string(float value, char* text) {
    if (!text) return;
    if (value <= 0) {
        copyText(text, "-oo", 9);
        return;
    }
    float2string(static_cast<float>(20.0 * std::log10(static_cast<double>(value))), text);
}

void AudioEffect::Hz2string(float samples, char* text) {
    if (!text) return;
    if (samples == 0) {
        float2string(0.0f, text);
        return;
    }
    float2string(
        static_cast<float>(static_cast<double>(getSampleRate()) / static_cast<double>(samples)),
        text);
}

void AudioEffect::ms2string(float samples, char* text) {
    if (!text) return;
    float2string(static_cast<float>(static_cast<double>(samples) * 1000.0 /
                                    static_cast<double>(getSampleRate())),
                 text);
}
