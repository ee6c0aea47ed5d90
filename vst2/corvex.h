// SPDX-License-Identifier: GPL-3.0-or-later
// Corvex: the synth's VST2 face. It owns a CorvexSynth and translates the effect's virtual calls
// into the core's, reports every parameter change to its editor and answers the host's identity
// and capability questions. It adds no sound of its own.
//
// Threads, as the host interface groups them (host/audioeffect.h):
// - Audio thread only, one at a time: processReplacing, process, processEvents, and
//   setSampleRate / setBlockSize / open / suspend / resume while the effect is not rendering.
// - Any thread, at any time, also while a block renders: setParameter, getParameter,
//   getParameterName / Label / Display.
// - Program selection and program names (setProgram, setCurProgram, setProgramName,
//   getProgramName, getProgramNameIndexed) may come from any thread while a block renders, but
//   hosts make them one at a time, as they make every dispatcher request outside the audio path.
// The core keeps the shared values race-free (core/synth.h); the editor takes parameter changes
// from any thread (vst2/corvex_editor.h).
#pragma once

#include "core/synth.h"
#include "host/audioeffectx.h"

#include <cstdint>

// Makes the editor of a new effect (which registers itself with it), or null for none. The
// plug-in's factory supplies it: the effect itself knows nothing of windows.
using EditorFactory = AEffEditor* (*)(AudioEffect* effect);

class Corvex : public AudioEffectX {
public:
    // The editor is made last, once the effect is complete (none without a factory).
    explicit Corvex(audioMasterCallback audioMaster, EditorFactory makeEditor = nullptr);
    ~Corvex() override;
    // The editor is bound to this one object.
    Corvex(const Corvex&) = delete;
    Corvex& operator=(const Corvex&) = delete;
    Corvex(Corvex&&) = delete;
    Corvex& operator=(Corvex&&) = delete;

    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void process(float** inputs, float** outputs, int32_t sampleFrames) override;
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
    void open() override;
    void setSampleRate(float rate) override;
    void setProgram(int32_t program) override;
    int32_t getProgram() override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    void setBlockSize(int32_t blockSize) override;
    void suspend() override;
    void resume() override;
    int32_t processEvents(VstEvents* events) override;
    bool string2parameter(int32_t index, char* text) override;
    bool getProgramNameIndexed(int32_t category, int32_t index, char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    int32_t vendorSpecific(int32_t lArg1, intptr_t lArg2, void* ptrArg, float floatArg) override;
    int32_t canDo(char* text) override;
    bool keysRequired() override;
    // Re-sends the current program's values (to the core and the editor); its name stays as the
    // user or host gave it.
    virtual void setCurProgram();

    // The synth itself, for the editor's face code, tests and tools.
    CorvexSynth& core() { return synth; }
    const CorvexSynth& core() const { return synth; }

    // Text answers to the host never exceed this many bytes, terminator included.
    static constexpr std::size_t kMaxTextBytes = 24;
    // Parameter names, labels and display texts: the host interface's 8 characters and the
    // terminator, since hosts size their buffers for that.
    static constexpr std::size_t kMaxParamTextBytes = 9;

private:
    // The rate the host set, also through the base's own queries, reaches the core before it is
    // used.
    void syncSampleRate() { synth.setSampleRate(AudioEffect::getSampleRate()); }

    CorvexSynth synth;
};
