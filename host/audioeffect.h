// SPDX-License-Identifier: GPL-3.0-or-later
// The root effect class: owns the host-visible record, turns the record's C entry points into
// virtual calls and offers the base behaviour every request falls back to.
#pragma once

#include "host/aeffect.h"

class AEffEditor;

// Threads. A host renders on its audio thread and serves its user interface on another; the
// effect sees the calls in three groups:
// - Audio thread, one at a time: processReplacing and process, the process-events request, and
//   (while the effect is suspended, so never during a block) open, setSampleRate, setBlockSize,
//   suspend and resume.
// - Any thread, at any time, including while a block renders: setParameter, getParameter,
//   setParameterAutomated and the parameter name, label and display requests. An effect keeps
//   the values these share with rendering race-free (Corvex holds them as atomics and renders
//   each block from one snapshot).
// - Every other dispatcher request (programs and their names, the editor, identity and
//   capability queries): from the host's non-audio threads, one request at a time; program
//   selection and names may overlap a block that is rendering.
// The effect starts no threads and takes no locks.
class AudioEffect {
public:
    AudioEffect(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams);
    virtual ~AudioEffect();

    // Virtual operations, in slot order.
    virtual void setParameter(int32_t index, float value);
    virtual float getParameter(int32_t index);
    virtual void setParameterAutomated(int32_t index, float value);
    virtual void process(float** inputs, float** outputs, int32_t sampleFrames) = 0;
    virtual void processReplacing(float** inputs, float** outputs, int32_t sampleFrames);
    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                float opt);
    virtual void open() {}
    virtual void close() {}
    virtual int32_t getProgram() { return curProgram; }
    virtual void setProgram(int32_t program) { curProgram = program; }
    virtual void setProgramName(char* name);
    virtual void getProgramName(char* name);
    virtual void getParameterLabel(int32_t index, char* label);
    virtual void getParameterDisplay(int32_t index, char* text);
    virtual void getParameterName(int32_t index, char* text);
    virtual float getVu() { return 0.0f; }
    virtual int32_t getChunk(void** data, bool isPreset = false);
    virtual int32_t setChunk(void* data, int32_t byteSize, bool isPreset = false);
    virtual void setSampleRate(float rate) { sampleRate = rate; }
    virtual void setBlockSize(int32_t size) { blockSize = size; }
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setUniqueID(int32_t iD) { cEffect.uniqueID = iD; }
    virtual void setNumInputs(int32_t inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(int32_t outputs) { cEffect.numOutputs = outputs; }
    virtual void hasVu(bool state = true) { setFlag(effFlagsHasVu, state); }
    virtual void hasClip(bool state = true) { setFlag(effFlagsHasClip, state); }
    virtual void canMono(bool state = true) { setFlag(effFlagsCanMono, state); }
    virtual void canProcessReplacing(bool state = true) { setFlag(effFlagsCanReplacing, state); }
    virtual void programsAreChunks(bool state = true) { setFlag(effFlagsProgramChunks, state); }
    virtual void setRealtimeQualities(int32_t qualities) { cEffect.realQualities = qualities; }
    virtual void setOfflineQualities(int32_t qualities) { cEffect.offQualities = qualities; }
    virtual void setInitialDelay(int32_t delay) { cEffect.initialDelay = delay; }
    virtual float getSampleRate() { return sampleRate; }
    virtual int32_t getBlockSize() { return blockSize; }
    virtual int32_t getMasterVersion();
    virtual int32_t getCurrentUniqueId();
    virtual void masterIdle();
    virtual bool isInputConnected(int32_t input);
    virtual bool isOutputConnected(int32_t output);
    virtual void dB2string(float value, char* text);
    virtual void Hz2string(float samples, char* text);
    virtual void ms2string(float samples, char* text);
    virtual void float2string(float value, char* text);
    virtual void long2string(int32_t value, char* text);

    AEffect* getAeffect() { return &cEffect; }
    AEffEditor* getEditor() const { return editor; }
    // Registers the editor (owned by the effect from now on) and announces it in the flags.
    void setEditor(AEffEditor* newEditor);
    audioMasterCallback getAudioMaster() const { return audioMaster; }

    // The record's entry points; each recovers the object from the record.
    static intptr_t dispatchEffectClass(AEffect* e, int32_t opcode, int32_t index, intptr_t value,
                                        void* ptr, float opt);
    static void processClass(AEffect* e, float** inputs, float** outputs, int32_t sampleFrames);
    static void processClassReplacing(AEffect* e, float** inputs, float** outputs,
                                      int32_t sampleFrames);
    static void setParameterClass(AEffect* e, int32_t index, float value);
    static float getParameterClass(AEffect* e, int32_t index);

protected:
    void setFlag(int32_t bit, bool state) {
        if (state) cEffect.flags |= bit;
        else cEffect.flags &= ~bit;
    }
    // One call of the host callback with this effect's record; 0 without a host.
    intptr_t callHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    float sampleRate = 44100.0f;
    AEffEditor* editor = nullptr;
    audioMasterCallback audioMaster = nullptr;
    int32_t numPrograms = 0;
    int32_t numParams = 0;
    int32_t curProgram = 0;
    int32_t blockSize = 1024;
    AEffect cEffect{};
};

// The load hook's module handle: the base address of the loaded library (on Windows, the
// HINSTANCE DllMain receives).
void* GetInstance();
void setInstance(void* module);

// Copies at most capacity - 1 characters and always terminates; the one string copy every text
// answer to a host goes through.
void copyText(char* dst, const char* src, std::size_t capacity);
