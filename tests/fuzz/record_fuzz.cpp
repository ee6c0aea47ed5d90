// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the plug-in driven through its record by a byte stream decoded into host calls:
// every opcode with extreme indices and values, parameters set to any float, any sample rate and
// block size, arbitrary event lists, process calls of any length. Properties: no crash or
// sanitizer report, every output sample finite and within +-2, nothing written past the frames
// given or past a text's buffer, every text terminated.
#include "fuzz_input.h"
#include "host/aeffect.h"
#include "hostkit/output_guard.h"
#include "plugin/plugin_factory.h"

#include <array>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using hostkit::guardValue;
using hostkit::isGuard;

constexpr int32_t kMaxFrames = 8192;
constexpr int32_t kGuardFrames = 64;
constexpr int64_t kFrameBudget = 1 << 15;  // per input, to keep executions fast
constexpr int kMaxOps = 256;
constexpr int kMaxEvents = 48;
constexpr uint8_t kSentinel = 0xA5;

intptr_t gHostVersion = 2400;
float gRate = 44100.0f;
intptr_t gBlock = 512;

intptr_t fuzzHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    switch (opcode) {
    case audioMasterVersion: return gHostVersion;
    case audioMasterWantMidi: return 1;
    case audioMasterGetSampleRate:
        return static_cast<intptr_t>(gRate > 0 && gRate < 1e7f ? gRate : 0);
    case audioMasterGetBlockSize: return gBlock;
    default: return 0;
    }
}

// How many bytes, terminator included, a text answer may take: the plug-in's stated limits.
int textLimit(int32_t opcode) {
    switch (opcode) {
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName: return 9;
    case effGetProgramName:
    case effGetProgramNameIndexed:
    case effGetEffectName:
    case effGetVendorString:
    case effGetProductString: return 24;
    default: return 0;
    }
}

struct Buffers {
    std::array<std::vector<float>, 8> out;
    std::array<std::vector<float>, 8> in;
    float* outPtr[8] = {};
    float* inPtr[8] = {};
    Buffers() {
        for (int c = 0; c < 8; ++c) {
            out[c].resize(kMaxFrames + kGuardFrames);
            in[c].assign(kMaxFrames + kGuardFrames, 0.0f);
            outPtr[c] = out[c].data();
            inPtr[c] = in[c].data();
        }
    }
};

void processBlock(AEffect* e, FuzzInput& in, Buffers& b, int64_t& budget) {
    const bool replacing = in.boolean() || !e->process;
    AEffectProcessProc call = replacing ? e->processReplacing : e->process;
    if (!call) return;
    int32_t frames;
    const uint8_t kind = in.u8();
    if (kind < 8) frames = in.interestingInt();  // negative and huge counts among them
    else frames = static_cast<int32_t>(in.below(kMaxFrames + 1));
    if (frames > kMaxFrames) frames = static_cast<int32_t>(static_cast<uint32_t>(frames) % 4);
    if (frames > 0 && budget < frames) return;
    const int channels = e->numOutputs < 8 ? e->numOutputs : 8;
    for (int c = 0; c < 8; ++c) {
        std::fill(b.out[c].begin(), b.out[c].end(), guardValue());
        // The accumulating call adds to what the host put there.
        if (!replacing && frames > 0 && c < channels) std::fill_n(b.out[c].begin(), frames, 0.0f);
    }
    call(e, b.inPtr, b.outPtr, frames);
    if (frames > 0) budget -= frames;
    const int32_t written = frames > 0 ? frames : 0;
    for (int c = 0; c < channels; ++c) {
        for (int32_t i = 0; i < written; ++i) {
            const float v = b.out[c][static_cast<std::size_t>(i)];
            FUZZ_CHECK(std::isfinite(v));
            FUZZ_CHECK(std::fabs(v) <= 2.0f);
        }
        for (std::size_t i = static_cast<std::size_t>(written); i < b.out[c].size(); ++i)
            FUZZ_CHECK(isGuard(b.out[c][i]));
    }
    for (int c = channels; c < 8; ++c)
        for (float v : b.out[c]) FUZZ_CHECK(isGuard(v));
}

// A host-owned event list built from the input: MIDI events with any bytes and offsets, events of
// other types, null entries, and counts that say fewer events than the list holds.
struct EventList {
    std::array<VstMidiEvent, kMaxEvents> records{};
    alignas(VstEvents) unsigned char storage[sizeof(VstEvents) + kMaxEvents * sizeof(VstEvent*)]{};

    VstEvents* build(FuzzInput& in) {
        auto* list = reinterpret_cast<VstEvents*>(storage);
        // The list really holds more entries than the declared array of two.
        auto** slots = reinterpret_cast<VstEvent**>(storage + offsetof(VstEvents, events));
        const int n = static_cast<int>(in.below(kMaxEvents + 1));
        for (int i = 0; i < n; ++i) {
            VstMidiEvent& m = records[static_cast<std::size_t>(i)];
            m = VstMidiEvent{};
            const uint8_t kind = in.u8();
            m.type = kind < 16 ? in.i32() : kVstMidiType;
            m.byteSize = kind < 32 ? in.i32() : static_cast<int32_t>(sizeof(VstMidiEvent));
            m.deltaFrames = kind & 1 ? in.interestingInt() : static_cast<int32_t>(in.below(1024));
            for (char& c : m.midiData) c = static_cast<char>(in.u8());
            m.detune = static_cast<char>(in.u8());
            slots[i] = kind >= 240 ? nullptr : reinterpret_cast<VstEvent*>(&m);
        }
        list->numEvents = in.u8() < 16 ? -static_cast<int32_t>(in.below(3)) : n;
        if (list->numEvents > n) list->numEvents = n;
        list->reserved = 0;
        return list;
    }
};

void dispatcherCall(AEffect* e, FuzzInput& in, EventList& events) {
    alignas(16) static unsigned char buffer[8192];
    std::memset(buffer, kSentinel, sizeof buffer);
    int32_t opcode = static_cast<int32_t>(in.u8()) - 2;  // -2 .. 253, beyond the table too
    if (opcode > 90) opcode %= 90;
    if (opcode == effClose || opcode == effEditOpen) return;  // the end, and windows: elsewhere
    const int32_t index = in.boolean() ? in.interestingInt() : static_cast<int32_t>(in.below(80));
    intptr_t value = in.boolean() ? in.interestingInt() : static_cast<intptr_t>(in.below(80));
    if (in.u8() < 16)
        value = static_cast<intptr_t>(static_cast<uint64_t>(in.u32()) << 32 | in.u32());
    const float opt = in.interestingFloat();
    void* ptr = buffer;
    VstSpeakerArrangement* inArrangement = nullptr;
    VstSpeakerArrangement* outArrangement = nullptr;
    switch (opcode) {
    case effProcessEvents: ptr = events.build(in); break;
    case effSetProgramName:
    case effString2Parameter:
    case effCanDo:
    case effVendorSpecific: {
        const std::string text = in.text(sizeof buffer - 1);
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\0';
        break;
    }
    case effSetChunk: value = static_cast<intptr_t>(in.below(sizeof buffer)); break;
    case effGetSpeakerArrangement:
        value = reinterpret_cast<intptr_t>(&inArrangement);
        ptr = &outArrangement;
        break;
    case effSetSpeakerArrangement:
        std::memset(buffer, 0, sizeof buffer);
        value = reinterpret_cast<intptr_t>(buffer);
        break;
    default:
        if (in.u8() < 24) ptr = nullptr;
        break;
    }
    if (opcode == effSetSampleRate || opcode == effSetBlockSizeAndSampleRate) gRate = opt;
    if (opcode == effSetBlockSize || opcode == effSetBlockSizeAndSampleRate) gBlock = value;
    e->dispatcher(e, opcode, index, value, ptr, opt);
    if (const int limit = textLimit(opcode); limit > 0 && ptr == buffer) {
        const void* end = std::memchr(buffer, '\0', static_cast<std::size_t>(limit));
        // An answer that writes nothing leaves the buffer as it was.
        const bool untouched = buffer[0] == kSentinel;
        FUZZ_CHECK(end != nullptr || untouched);
        for (std::size_t i = static_cast<std::size_t>(limit); i < sizeof buffer; ++i)
            FUZZ_CHECK(buffer[i] == kSentinel);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    static constexpr intptr_t kVersions[] = {2400, 2300, 2, 1, 0};
    const uint8_t setup = in.u8();
    gHostVersion = kVersions[(setup >> 4) % 5];
    gRate = 44100.0f;
    gBlock = 512;
    AEffect* e = openPlugin(&fuzzHost);
    if (!e) return 0;
    FUZZ_CHECK(e->magic == kEffectMagic);
    static Buffers buffers;
    static EventList events;
    if (setup & 1) e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    if (setup & 2) e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    int64_t budget = kFrameBudget;
    for (int op = 0; op < kMaxOps && !in.empty(); ++op) {
        switch (in.u8() % 8) {
        case 0:
        case 1: dispatcherCall(e, in, events); break;
        case 2: {
            const int32_t index =
                in.boolean() ? in.interestingInt() : static_cast<int32_t>(in.below(16));
            if (e->setParameter) e->setParameter(e, index, in.interestingFloat());
            break;
        }
        case 3:
            if (e->getParameter) (void)e->getParameter(e, in.interestingInt());
            break;
        case 4: e->dispatcher(e, effProcessEvents, 0, 0, events.build(in), 0.0f); break;
        default: processBlock(e, in, buffers, budget); break;
        }
    }
    FUZZ_CHECK(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f) == 1);
    return 0;
}
