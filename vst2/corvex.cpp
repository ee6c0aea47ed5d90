// SPDX-License-Identifier: GPL-3.0-or-later
// Corvex's VST2 answers: the core behind the effect's calls, the editor told of every change.
#include "vst2/corvex.h"

#include "host/aeffeditor.h"

#include <cstdio>
#include <cstring>

namespace {
bool validIndex(int32_t index) { return index >= 0 && index < kNumParams; }
}  // namespace

Corvex::Corvex(audioMasterCallback audioMaster, EditorFactory makeEditor)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParams) {
    setNumInputs(0);
    setNumOutputs(2);
    hasVu(false);
    canMono(false);
    canProcessReplacing(true);
    isSynth(true);
    setUniqueID(fourCharCode('O', 'n', 'd', 'r'));
    wantEvents(1);
    if (makeEditor) makeEditor(this);
}

Corvex::~Corvex() = default;

// ---- Parameters ------------------------------------------------------------------------------

void Corvex::setParameter(int32_t index, float value) {
    synth.setParameter(index, value);
    if (editor) editor->setParameter(index, value);
}

float Corvex::getParameter(int32_t index) { return synth.getParameter(index); }

void Corvex::getParameterName(int32_t index, char* text) {
    copyText(text, validIndex(index) ? kParamInfo[index].name : "-", kMaxParamTextBytes);
}

void Corvex::getParameterLabel(int32_t, char* label) { copyText(label, "-", kMaxParamTextBytes); }

void Corvex::getParameterDisplay(int32_t index, char* text) {
    formatParameter(index, synth.getParameter(index), text, kMaxParamTextBytes);
}

bool Corvex::string2parameter(int32_t, char*) { return false; }

// ---- Programs --------------------------------------------------------------------------------

void Corvex::setProgram(int32_t program) {
    if (!synth.setProgram(program) || !editor) return;
    for (int32_t index : kDeclaredOrder) editor->setParameter(index, synth.getParameter(index));
}

int32_t Corvex::getProgram() { return synth.getProgram(); }

void Corvex::setCurProgram() { setProgram(synth.getProgram()); }

void Corvex::setProgramName(char* name) { synth.setProgramName(name); }

void Corvex::getProgramName(char* name) { synth.getProgramName(name); }

bool Corvex::getProgramNameIndexed(int32_t, int32_t index, char* text) {
    return synth.getProgramNameIndexed(index, text);
}

// ---- Audio -----------------------------------------------------------------------------------

void Corvex::open() { synth.reset(); }

void Corvex::setSampleRate(float rate) {
    AudioEffectX::setSampleRate(rate);
    syncSampleRate();
}

void Corvex::setBlockSize(int32_t size) {
    AudioEffectX::setBlockSize(size);
    synth.setBlockSize(size);
}

int32_t Corvex::processEvents(VstEvents* events) {
    if (!events) return 1;
    syncSampleRate();
    // The host's list holds numEvents entries, more than the record's declared two: read it
    // through a pointer, not by indexing that array.
    const VstEvent* const* list = events->events;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (!event || event->type != kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        // The list comes before processReplacing tells the block's length: an event announced
        // beyond the block waits for its frame in a later one, as VST2 hosts expect.
        synth.midi(reinterpret_cast<const uint8_t*>(midi->midiData), 3, midi->deltaFrames,
                   CorvexSynth::kCarryBeyondBlock);
    }
    return 1;
}

void Corvex::process(float** inputs, float** outputs, int32_t sampleFrames) {
    processReplacing(inputs, outputs, sampleFrames);
}

void Corvex::processReplacing(float** /*inputs*/, float** outputs, int32_t sampleFrames) {
    if (!outputs) return;
    syncSampleRate();
    synth.render(outputs[0], outputs[1], sampleFrames);
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

void Corvex::resume() {
    wantEvents(1);
    if (editor) editor->resume();
}

void Corvex::suspend() {
    if (editor) editor->suspend();
}
