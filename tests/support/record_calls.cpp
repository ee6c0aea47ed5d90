// SPDX-License-Identifier: GPL-3.0-or-later
// Text requests and a played score on a record.
#include "record_calls.h"

#include "hostkit/host_answers.h"
#include "hostkit/plugin.h"

#include <algorithm>
#include <cstring>

std::string dispatchText(AEffect* e, int32_t opcode, int32_t index, intptr_t value) {
    char buffer[256];
    std::memset(buffer, 0x7F, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    dispatch(e, opcode, index, value, buffer);
    return buffer;
}

std::vector<float> playScore(AEffect* e, const std::vector<ScoreMessage>& score, int total,
                             const std::function<int(int)>& blockAt, int ahead) {
    std::vector<float> left(static_cast<size_t>(total)), right(left.size());
    size_t next = 0;
    for (int pos = 0, n = 0; pos < total; ++n) {
        const int len = std::min(blockAt(n), total - pos);
        std::vector<VstMidiEvent> events;
        for (; next < score.size() && score[next].at < pos + len + ahead; ++next) {
            const ScoreMessage& m = score[next];
            VstMidiEvent ev{};
            ev.type = kVstMidiType;
            ev.byteSize = sizeof ev;
            ev.deltaFrames = static_cast<int32_t>(m.at - pos);
            ev.midiData[0] = static_cast<char>(m.status);
            ev.midiData[1] = static_cast<char>(m.data1);
            ev.midiData[2] = static_cast<char>(m.data2);
            events.push_back(ev);
        }
        if (!events.empty()) {
            std::vector<unsigned char> storage(sizeof(VstEvents) +
                                               events.size() * sizeof(VstEvent*));
            auto* list = reinterpret_cast<VstEvents*>(storage.data());
            list->numEvents = static_cast<int32_t>(events.size());
            VstEvent** slots = list->events;
            for (size_t i = 0; i < events.size(); ++i)
                slots[i] = reinterpret_cast<VstEvent*>(&events[i]);
            dispatch(e, effProcessEvents, 0, 0, list);
        }
        float* outputs[2] = {left.data() + pos, right.data() + pos};
        e->processReplacing(e, nullptr, outputs, len);
        pos += len;
    }
    return left;
}

std::vector<float> playProgramScore(const hostkit::Library& plugin, int program, float rate,
                                    int blockSize, const std::vector<ScoreMessage>& score,
                                    int total, const std::function<int(int)>& blockAt, int ahead) {
    AEffect* e = plugin.entry() ? plugin.entry()(&hostkit::versionOnlyHost) : nullptr;
    if (!e) return {};
    dispatch(e, effOpen);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, rate);
    if (blockSize > 0) dispatch(e, effSetBlockSize, 0, blockSize);
    dispatch(e, effMainsChanged, 0, 1);
    dispatch(e, effSetProgram, 0, program);
    std::vector<float> left = playScore(e, score, total, blockAt, ahead);
    dispatch(e, effClose);
    return left;
}
