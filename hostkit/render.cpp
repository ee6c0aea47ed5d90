// SPDX-License-Identifier: GPL-3.0-or-later
// The offline render loop.
#include "hostkit/render.h"

#include <algorithm>
#include <cstddef>
#include <memory>

namespace hostkit {

namespace {

// A VstEvents list whose pointer array really holds `capacity` entries.
class EventList {
public:
    // The list's slots are event pointers, sized as such.
    // NOLINTBEGIN(bugprone-sizeof-expression)
    explicit EventList(std::size_t capacity)
        : storage(new intptr_t[(offsetof(VstEvents, events) +
                                std::max<std::size_t>(capacity, 2) * sizeof(VstEvents::events[0])) /
                                   sizeof(intptr_t) +
                               1]()),
          list(reinterpret_cast<VstEvents*>(storage.get())) {}
    // NOLINTEND(bugprone-sizeof-expression)

    VstEvents* get() { return list; }
    // The array member is declared with two entries; the storage behind it holds capacity, so
    // it is reached through a plain pointer rather than indexed past its declared bound.
    VstEvent** slots() {
        return reinterpret_cast<VstEvent**>(reinterpret_cast<char*>(list) +
                                            offsetof(VstEvents, events));
    }

private:
    std::unique_ptr<intptr_t[]> storage;
    VstEvents* list;
};

}  // namespace

std::vector<TimedMidiEvent> noteEvents(int note, int velocity, int64_t offFrame) {
    const auto n = static_cast<uint8_t>(note & 0x7F);
    return {{0, {0x90, n, static_cast<uint8_t>(velocity & 0x7F)}}, {offFrame, {0x80, n, 0}}};
}

void render(Plugin& plugin, const std::vector<TimedMidiEvent>& events, int64_t totalFrames,
            const BlockSink& sink, const ProgressSink& progress) {
    const int32_t blockSize = std::max<int32_t>(plugin.blockSize(), 1);
    const int32_t numIn = plugin.numInputs();
    const int32_t numOut = plugin.numOutputs();

    // Everything the loop touches is made here: buffers, pointer arrays and the event records.
    std::vector<float> inputMemory(static_cast<std::size_t>(numIn) * blockSize, 0.0f);
    std::vector<float> outputMemory(static_cast<std::size_t>(numOut) * blockSize, 0.0f);
    std::vector<float*> inputs(static_cast<std::size_t>(std::max(numIn, 1)), nullptr);
    std::vector<float*> outputs(static_cast<std::size_t>(std::max(numOut, 1)), nullptr);
    for (int32_t c = 0; c < numIn; ++c)
        inputs[c] = inputMemory.data() + static_cast<std::size_t>(c) * blockSize;
    for (int32_t c = 0; c < numOut; ++c)
        outputs[c] = outputMemory.data() + static_cast<std::size_t>(c) * blockSize;

    std::vector<VstMidiEvent> records(events.size());
    std::size_t busiest = 0;
    for (std::size_t i = 0, first = 0; i < events.size(); ++i) {
        VstMidiEvent& r = records[i];
        r.type = kVstMidiType;
        r.byteSize = static_cast<int32_t>(sizeof(VstMidiEvent));
        for (int b = 0; b < 3; ++b) r.midiData[b] = static_cast<char>(events[i].bytes[b]);
        while (events[i].frame / blockSize != events[first].frame / blockSize) ++first;
        busiest = std::max(busiest, i - first + 1);
    }
    EventList list(busiest);

    std::size_t next = 0;
    for (int64_t start = 0; start < totalFrames; start += blockSize) {
        const auto frames = static_cast<int32_t>(std::min<int64_t>(blockSize, totalFrames - start));
        int32_t count = 0;
        while (next < events.size() && events[next].frame < start + frames) {
            // Events before frame 0 cannot happen; clamp rather than send a negative offset.
            records[next].deltaFrames =
                static_cast<int32_t>(std::max<int64_t>(events[next].frame - start, 0));
            list.slots()[count++] = reinterpret_cast<VstEvent*>(&records[next]);
            ++next;
        }
        if (count > 0) {
            list.get()->numEvents = count;
            plugin.processEvents(list.get());
        }
        // A careless effect may scribble on its inputs; they stay silent for the next block.
        std::fill(inputMemory.begin(), inputMemory.end(), 0.0f);
        plugin.process(inputs.data(), outputs.data(), frames);
        sink(outputs.data(), frames);
        if (progress) progress(start + frames, totalFrames);
    }
}

}  // namespace hostkit
