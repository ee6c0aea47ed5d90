// SPDX-License-Identifier: GPL-3.0-or-later
// Drives a Corvex object directly, as a host would through its record: MIDI lists, parameter
// sets and blocks of a chosen size.
#pragma once

#include "vst2/corvex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

struct Midi {
    int32_t delta;
    unsigned char status, data1, data2;
};

class Synth {
public:
    explicit Synth(float rate = 44100.0f) : fx(nullptr) {
        fx.setSampleRate(rate);
        fx.open();
    }

    void set(std::initializer_list<std::pair<int32_t, float>> values) {
        for (auto [index, value] : values) fx.setParameter(index, value);
    }

    // Every value in one call; the rest of the program is left as it is.
    void setAll(float value) {
        for (int32_t i = 0; i < kNumParams; ++i) fx.setParameter(i, value);
    }

    int32_t send(std::initializer_list<Midi> messages) {
        std::vector<VstMidiEvent> records;
        for (const Midi& m : messages) {
            VstMidiEvent e{};
            e.type = kVstMidiType;
            e.byteSize = sizeof e;
            e.deltaFrames = m.delta;
            e.midiData[0] = static_cast<char>(m.status);
            e.midiData[1] = static_cast<char>(m.data1);
            e.midiData[2] = static_cast<char>(m.data2);
            records.push_back(e);
        }
        return sendRecords(records);
    }

    int32_t sendRecords(std::vector<VstMidiEvent>& records) {
        std::vector<unsigned char> storage(sizeof(VstEvents) + records.size() * sizeof(VstEvent*));
        auto* list = reinterpret_cast<VstEvents*>(storage.data());
        list->numEvents = static_cast<int32_t>(records.size());
        VstEvent** slots = list->events;
        for (std::size_t i = 0; i < records.size(); ++i)
            slots[i] = reinterpret_cast<VstEvent*>(&records[i]);
        return fx.processEvents(list);
    }

    void noteOn(int note, int32_t delta = 0) {
        send({{delta, 0x90, static_cast<unsigned char>(note), 100}});
    }
    void noteOff(int note, int32_t delta = 0) {
        send({{delta, 0x80, static_cast<unsigned char>(note), 0}});
    }

    // Renders n samples in blocks of `block`, checks both channels agree, returns one.
    std::vector<float> render(int n, int block = 0) {
        if (block <= 0) block = n;
        std::vector<float> left(n, 123.0f), right(n, -321.0f), out;
        for (int pos = 0; pos < n; pos += block) {
            const int len = std::min(block, n - pos);
            float* outputs[2] = {left.data() + pos, right.data() + pos};
            fx.processReplacing(nullptr, outputs, len);
        }
        EXPECT_EQ(std::memcmp(left.data(), right.data(), n * sizeof(float)), 0);
        return left;
    }

    Corvex fx;
};
