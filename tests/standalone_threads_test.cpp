// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the hand-over between the standalone's main thread and its audio thread: a ring filled
// on one thread and drained on another at the same time delivers every message once, in order,
// refuses pushes only while full, and never tears a message; MIDI learn's table is bound on one
// side and read on the other (run under ThreadSanitizer).
#include "standalone/midi_learn.h"
#include "standalone/ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using corvex_standalone::MidiMessage;
using corvex_standalone::SpscRing;

TEST(StandaloneRingThreads, EveryMessageArrivesOnceInOrderWhileBothSidesRun) {
    SpscRing<MidiMessage, 256> ring;
    constexpr uint32_t kCount = 300000;
    std::atomic<uint32_t> refused{0};
    std::thread producer([&] {
        for (uint32_t i = 0; i < kCount;) {
            // Three bytes that depend on each other, so a torn message shows.
            const MidiMessage m{static_cast<uint8_t>(0x80 | (i & 0x7F)),
                                static_cast<uint8_t>((i >> 7) & 0x7F),
                                static_cast<uint8_t>((i * 7) & 0xFF)};
            if (ring.push(m)) ++i;
            else refused.fetch_add(1, std::memory_order_relaxed);
        }
    });
    uint32_t next = 0, errors = 0;
    while (next < kCount) {
        MidiMessage m;
        if (!ring.pop(m)) continue;
        const uint32_t low = m.status & 0x7F, high = m.data1;
        if (low != (next & 0x7F) || high != ((next >> 7) & 0x7F) ||
            m.data2 != static_cast<uint8_t>(next * 7))
            ++errors;
        ++next;
    }
    producer.join();
    EXPECT_EQ(errors, 0u);
    MidiMessage extra;
    EXPECT_FALSE(ring.pop(extra)) << "nothing more than was pushed";
}

TEST(StandaloneRingThreads, AFullRingRefusesAndRecovers) {
    SpscRing<uint8_t, 4> ring;
    for (uint8_t i = 0; i < 4; ++i) EXPECT_TRUE(ring.push(i));
    EXPECT_FALSE(ring.push(9));
    uint8_t v = 0;
    ASSERT_TRUE(ring.pop(v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(ring.push(4));
    for (uint8_t want = 1; want <= 4; ++want) {
        ASSERT_TRUE(ring.pop(v));
        EXPECT_EQ(v, want);
    }
    EXPECT_FALSE(ring.pop(v));
}

// MIDI learn: the window binds and forgets on the main thread while the audio thread takes
// controllers and learns; neither waits, and every answer names a real parameter or none.
TEST(StandaloneLearnThreads, BindingAndTakingAtOnceStayConsistent) {
    corvex_standalone::MidiLearn learn;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        for (uint32_t i = 0; !done.load(std::memory_order_relaxed); ++i) {
            const int32_t parameter = learn.take(static_cast<uint8_t>(i % 128));
            ASSERT_GE(parameter, -1);
            ASSERT_LT(parameter, kNumParams);
        }
    });
    for (int round = 0; round < 20000; ++round) {
        learn.bind(round % 120, round % kNumParams);
        if (round % 7 == 0) learn.arm(round % kNumParams);
        if (round % 11 == 0) learn.forget(round % kNumParams);
        ASSERT_LT(learn.controllerOf(round % kNumParams), 128);
    }
    done = true;
    audio.join();
    // Settled: each parameter answers at most one controller.
    for (int32_t p = 0; p < kNumParams; ++p) {
        int bound = 0;
        for (int32_t c = 0; c < 128; ++c) bound += learn.parameterOf(c) == p;
        EXPECT_LE(bound, 1) << p;
    }
}
