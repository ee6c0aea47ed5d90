// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the loaded plug-in against a host that uses it from two threads at once, as every DAW
// does: the audio thread renders, takes MIDI and automates parameters while the user-interface
// thread sets parameters, selects programs and reads names and display texts. Every sample
// stays finite and within +-2; run under ThreadSanitizer in CI, nothing may be reported.
#include "hostkit/host_answers.h"
#include "hostkit/plugin.h"
#include "support/record_calls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kBlock = 512;
constexpr int kChanges = 10000;

void sendNote(AEffect* e, int32_t delta, unsigned char status, unsigned char note) {
    VstMidiEvent event{};
    event.type = kVstMidiType;
    event.byteSize = sizeof event;
    event.deltaFrames = delta;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(note);
    event.midiData[2] = status == 0x90 ? 100 : 0;
    VstEvents list{};
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<VstEvent*>(&event);
    dispatch(e, effProcessEvents, 0, 0, &list);
}

TEST(PluginThreads, AudioAndUserInterfaceThreadsTogether) {
    const hostkit::Library plugin(CORVEX_PLUGIN_PATH);
    ASSERT_NE(plugin.entry(), nullptr);
    // The host answers only the version request, from either thread.
    AEffect* e = plugin.entry()(hostkit::versionOnlyHost);
    ASSERT_NE(e, nullptr);
    dispatch(e, effOpen);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
    dispatch(e, effSetBlockSize, 0, kBlock);
    dispatch(e, effMainsChanged, 0, 1);

    std::atomic<int> blocksDone{0};
    std::atomic<bool> uiDone{false};
    std::thread ui([&] {
        std::mt19937 rng(5);
        const float edges[] = {0.0f, 1.0f, 1e-45f, 2.9e-39f, -0.0f};
        char text[64];
        for (int i = 0; i < kChanges; ++i) {
            while (blocksDone.load(std::memory_order_acquire) < i / 10) std::this_thread::yield();
            const auto index = static_cast<int32_t>(rng() % 14);
            const float value =
                rng() % 2 ? edges[rng() % 5] : std::uniform_real_distribution<float>(0, 1)(rng);
            switch (rng() % 8) {
            case 0: dispatch(e, effSetProgram, 0, static_cast<intptr_t>(rng() % 64)); break;
            case 1: dispatch(e, effGetParamDisplay, index, 0, text); break;
            case 2: dispatch(e, effGetProgramName, 0, 0, text); break;
            case 3: (void)e->getParameter(e, index); break;
            case 4: dispatch(e, effEditIdle); break;
            default: e->setParameter(e, index, value); break;
            }
        }
        uiDone.store(true, std::memory_order_release);
    });

    std::vector<float> left(kBlock), right(kBlock);
    float* outputs[2] = {left.data(), right.data()};
    std::mt19937 rng(9);
    int64_t bad = 0, mismatched = 0;
    for (int k = 0; !uiDone.load(std::memory_order_acquire) || k < 64; ++k) {
        if (k % 20 == 0) sendNote(e, static_cast<int32_t>(rng() % kBlock), 0x90, 60);
        if (k % 20 == 14) sendNote(e, static_cast<int32_t>(rng() % kBlock), 0x80, 60);
        // Automation from the audio thread, between its blocks.
        if (k % 3 == 0) e->setParameter(e, static_cast<int32_t>(rng() % 14), (rng() % 100) / 99.0f);
        e->processReplacing(e, nullptr, outputs, kBlock);
        for (int i = 0; i < kBlock; ++i) {
            if (!std::isfinite(left[i]) || std::fabs(left[i]) > 2.0f) ++bad;
            if (std::memcmp(&left[i], &right[i], sizeof(float)) != 0) ++mismatched;
        }
        blocksDone.store(k + 1, std::memory_order_release);
    }
    ui.join();
    dispatch(e, effMainsChanged, 0, 0);
    dispatch(e, effClose);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(mismatched, 0);
}

}  // namespace
