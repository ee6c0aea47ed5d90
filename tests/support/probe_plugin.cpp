// SPDX-License-Identifier: GPL-3.0-or-later
// A scriptable VST2 instrument that tests our host against: it logs every request it receives,
// marks each MIDI event in its output at the sample the host placed it on, and misbehaves on
// demand. The environment variable CORVEX_PROBE_MODE, read at the entry point, picks how:
//   (unset)     a well-behaved synth with 3 programs and 2 parameters
//   null        the entry point returns no effect
//   badmagic    the record's magic is wrong
//   noout       no audio outputs
//   hugeio      an absurd number of outputs
//   accumulate  only the accumulating process call, which adds to the buffers
//   nan         produces non-finite samples
//   crash       dereferences null in its fifth process call
//   loud        produces samples at +6 dBFS
#include "host/aeffect.h"

#include "probe_log.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

extern "C" {
__attribute__((visibility("default"))) ProbeLog probeLog{};
}

namespace {

void log(int32_t what) {
    if (probeLog.count < kProbeLogSize) probeLog.entries[probeLog.count++] = what;
}

constexpr int kMaxPending = 4096;

struct Probe {
    AEffect record{};
    audioMasterCallback host = nullptr;
    std::string mode;
    float params[2] = {0.0f, 0.0f};
    int32_t program = 0;
    int processCalls = 0;
    int pending = 0;
    int32_t pendingDelta[kMaxPending] = {};
    float pendingMark[kMaxPending] = {};
};

Probe* self(AEffect* e) { return static_cast<Probe*>(e->object); }

const char* const kProgramNames[3] = {"Zero", "One", " Two Words "};
const char* const kParamNames[2] = {"Gain", "Offset"};

void copy(void* ptr, const char* text) {
    if (ptr) std::strcpy(static_cast<char*>(ptr), text);
}

// The mark an event leaves in the output: 1000s note-on, 2000s note-off, 3000s controller,
// 4000 pitch bend; plus the first data byte.
float markFor(const VstMidiEvent& m) {
    const auto status = static_cast<uint8_t>(m.midiData[0]) & 0xF0;
    const auto d1 = static_cast<float>(static_cast<uint8_t>(m.midiData[1]));
    switch (status) {
    case 0x90: return 1000.0f + d1;
    case 0x80: return 2000.0f + d1;
    case 0xB0: return 3000.0f + d1;
    case 0xE0: return 4000.0f;
    default: return 9000.0f;
    }
}

intptr_t dispatcher(AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt) {
    Probe* p = self(e);
    log(opcode);
    switch (opcode) {
    case effClose: delete p; return 1;
    case effSetSampleRate: probeLog.sampleRate = opt; return 0;
    case effSetBlockSize: probeLog.blockSize = static_cast<int32_t>(value); return 0;
    case effMainsChanged:
        if (value != 0) {
            // A plug-in typically asks the host for its settings when switched on.
            probeLog.hostSampleRate = p->host(e, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f);
            probeLog.hostBlockSize = p->host(e, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f);
            probeLog.hostTime = p->host(e, audioMasterGetTime, 0, 0, nullptr, 0.0f);
            probeLog.hostUnknown = p->host(e, 9999, 0, 0, nullptr, 0.0f);
            char yes[] = "sendVstMidiEvent";
            char no[] = "sizeWindow";
            probeLog.hostCanSendMidi = p->host(e, audioMasterCanDo, 0, 0, yes, 0.0f);
            probeLog.hostCanSizeWindow = p->host(e, audioMasterCanDo, 0, 0, no, 0.0f);
            char vendor[256] = {};
            p->host(e, audioMasterGetProductString, 0, 0, vendor, 0.0f);
            std::snprintf(probeLog.hostProduct, sizeof probeLog.hostProduct, "%s", vendor);
        }
        return 0;
    case effSetProgram:
        if (value >= 0 && value < 3) p->program = static_cast<int32_t>(value);
        return 0;
    case effGetProgram: return p->program;
    case effGetProgramName: copy(ptr, kProgramNames[p->program]); return 0;
    case effGetProgramNameIndexed:
        if (index < 0 || index >= 3) return 0;
        copy(ptr, kProgramNames[index]);
        return 1;
    case effGetParamName: copy(ptr, index >= 0 && index < 2 ? kParamNames[index] : ""); return 0;
    case effGetParamDisplay:
        if (index >= 0 && index < 2) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(p->params[index]));
            copy(ptr, buf);
        }
        return 0;
    case effGetParamLabel: copy(ptr, index == 0 ? "dB" : ""); return 0;
    case effGetEffectName: copy(ptr, "Probe"); return 1;
    case effGetVendorString: copy(ptr, "Corvex tests"); return 1;
    case effProcessEvents: {
        const auto* events = static_cast<const VstEvents*>(ptr);
        const auto* const* list = reinterpret_cast<VstEvent* const*>(
            reinterpret_cast<const char*>(events) + offsetof(VstEvents, events));
        for (int32_t i = 0; i < events->numEvents && p->pending < kMaxPending; ++i) {
            if (list[i]->type != kVstMidiType) continue;
            const auto* m = reinterpret_cast<const VstMidiEvent*>(list[i]);
            p->pendingDelta[p->pending] = m->deltaFrames;
            p->pendingMark[p->pending] = markFor(*m);
            ++p->pending;
            ++probeLog.events;
        }
        return 1;
    }
    default: return 0;
    }
}

// A genuine memory fault, kept out of the sanitizers' sight so that they do not turn it into an
// orderly exit: the host must cope with the real thing.
// The address comes through a volatile so the optimiser cannot see the null and drop the store.
__attribute__((noinline, no_sanitize("address", "undefined"))) void crash() {
    volatile uintptr_t address = 0;
    *reinterpret_cast<volatile int*>(address) = 1;
}

void render(Probe* p, float** outputs, int32_t frames, bool accumulate) {
    if (++p->processCalls == 5 && p->mode == "crash") crash();
    const float base = p->mode == "nan"    ? std::numeric_limits<float>::quiet_NaN()
                       : p->mode == "loud" ? 2.0f
                                           : p->params[1];
    for (int32_t c = 0; c < p->record.numOutputs; ++c) {
        for (int32_t s = 0; s < frames; ++s) {
            if (accumulate) outputs[c][s] += base;
            else outputs[c][s] = base;
        }
        // A loud probe plays its constant level only, so its peak is known.
        for (int i = 0; i < p->pending && p->mode != "loud"; ++i)
            if (p->pendingDelta[i] >= 0 && p->pendingDelta[i] < frames)
                outputs[c][p->pendingDelta[i]] += p->pendingMark[i];
            else probeLog.misplacedEvents++;
    }
    p->pending = 0;
}

void processReplacing(AEffect* e, float**, float** outputs, int32_t frames) {
    log(kProbeProcessReplacing);
    render(self(e), outputs, frames, false);
}

void processAccumulating(AEffect* e, float**, float** outputs, int32_t frames) {
    log(kProbeProcess);
    render(self(e), outputs, frames, true);
}

void setParameter(AEffect* e, int32_t index, float value) {
    log(kProbeSetParameter);
    if (index >= 0 && index < 2) self(e)->params[index] = value;
}

float getParameter(AEffect* e, int32_t index) {
    return index >= 0 && index < 2 ? self(e)->params[index] : 0.0f;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host) {
    probeLog.hostVersion = host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f);
    const char* env = std::getenv("CORVEX_PROBE_MODE");
    const std::string mode = env ? env : "";
    if (mode == "null") return nullptr;
    // A host must not touch a record with the wrong magic, so it can never close it: that one
    // lives in static storage instead of leaking.
    static Probe unclosable;
    Probe* p = mode == "badmagic" ? &unclosable : new Probe;
    p->host = host;
    p->mode = mode;
    AEffect& r = p->record;
    r.magic = mode == "badmagic" ? 0x12345678 : kEffectMagic;
    r.dispatcher = dispatcher;
    r.process = processAccumulating;
    r.processReplacing = mode == "accumulate" ? nullptr : processReplacing;
    r.setParameter = setParameter;
    r.getParameter = getParameter;
    r.numPrograms = 3;
    r.numParams = 2;
    r.numInputs = 0;
    r.numOutputs = mode == "noout" ? 0 : mode == "hugeio" ? 100000 : 2;
    r.flags = effFlagsIsSynth | (mode == "accumulate" ? 0 : effFlagsCanReplacing);
    r.ioRatio = 1.0f;
    r.object = p;
    r.uniqueID = fourCharCode('P', 'r', 'b', 'e');
    r.version = 1;
    return &r;
}
