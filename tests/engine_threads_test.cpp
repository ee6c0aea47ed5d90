// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the hand-over between a host's audio thread and the thread that changes parameters and
// programs: a change landing inside a block must never produce NaN, infinite or overlarge
// samples (a new threshold paired with an old reciprocal did), and changes made between blocks
// must sound exactly as when one thread makes them. Run under ThreadSanitizer in CI.
#include "support/synth_harness.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kBlock = 512;
constexpr int kChanges = 10000;
constexpr int kChangesPerBlock = 10;

// Values a host may send, the edges first: exactly 0 and 1 made every reciprocal infinite or
// stale, subnormals have an infinite reciprocal of their own.
float hostileValue(std::mt19937& rng) {
    static constexpr float kEdges[] = {0.0f, 1.0f, 1e-45f, 1e-40f, 2.9e-39f, -0.0f, 0.999999f};
    const unsigned pick = rng() % 10;
    if (pick < 5) return kEdges[rng() % std::size(kEdges)];
    return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
}

// One parameter change or program selection, as a host's user-interface thread makes them.
struct Change {
    int32_t index;  // a parameter, or -1 for a program
    float value;
    int32_t program;
};

std::vector<Change> script(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Change> changes;
    for (int i = 0; i < kChanges; ++i) {
        if (rng() % 50 == 0)
            changes.push_back({-1, 0.0f, static_cast<int32_t>(rng() % kNumPrograms)});
        else changes.push_back({static_cast<int32_t>(rng() % kNumParams), hostileValue(rng), 0});
    }
    return changes;
}

void apply(Corvex& fx, const Change& c) {
    if (c.index < 0) fx.setProgram(c.program);
    else fx.setParameter(c.index, c.value);
}

// The audio thread's MIDI for block k: a note held for most of every 24 blocks, released at an
// offset inside the block, so every envelope stage meets the changes.
void midiFor(Synth& s, int k) {
    const int phase = k % 24;
    if (phase == 0) s.send({{(k * 37) % kBlock, 0x90, 60, 100}});
    if (phase == 16) s.send({{(k * 53) % kBlock, 0x80, 60, 0}});
    if (phase == 20) s.send({{(k * 11) % kBlock, 0x90, 67, 90}});
}

std::vector<float> renderBlock(Synth& s) {
    std::vector<float> left(kBlock), right(kBlock);
    float* outputs[2] = {left.data(), right.data()};
    s.fx.processReplacing(nullptr, outputs, kBlock);
    return left;
}

TEST(Threads, ChangesDuringBlocksGiveFiniteBoundedSamples) {
    Synth s;
    const auto changes = script(11);
    std::atomic<int> blocksDone{0};
    std::atomic<bool> changesDone{false};

    // The changes are paced by the audio thread's progress, so they land throughout the render
    // and most of them while a block is being rendered.
    std::thread ui([&] {
        for (int i = 0; i < kChanges; ++i) {
            while (blocksDone.load(std::memory_order_acquire) < i / kChangesPerBlock)
                std::this_thread::yield();
            apply(s.fx, changes[static_cast<std::size_t>(i)]);
        }
        changesDone.store(true, std::memory_order_release);
    });

    int64_t nonFinite = 0, outOfRange = 0;
    float largest = 0.0f;
    for (int k = 0; !changesDone.load(std::memory_order_acquire) || k < 64; ++k) {
        midiFor(s, k);
        for (float v : renderBlock(s)) {
            if (!std::isfinite(v)) {
                ++nonFinite;
            } else if (std::fabs(v) > 2.0f) {
                ++outOfRange;
                largest = std::max(largest, std::fabs(v));
            }
        }
        blocksDone.store(k + 1, std::memory_order_release);
    }
    ui.join();
    EXPECT_EQ(nonFinite, 0);
    EXPECT_EQ(outOfRange, 0) << "largest " << largest;
}

TEST(Threads, ChangesBetweenBlocksSoundAsFromOneThread) {
    const auto changes = script(23);
    const int blocks = kChanges / kChangesPerBlock + 8;

    // Reference: one thread applies block k's changes, then renders block k.
    std::vector<float> reference;
    {
        Synth s;
        for (int k = 0; k < blocks; ++k) {
            for (int i = k * kChangesPerBlock; i < (k + 1) * kChangesPerBlock && i < kChanges; ++i)
                apply(s.fx, changes[static_cast<std::size_t>(i)]);
            midiFor(s, k);
            const auto out = renderBlock(s);
            reference.insert(reference.end(), out.begin(), out.end());
        }
    }

    // The same, with the changes made by a second thread while the audio thread waits between
    // blocks, as a host does that hands values over at block boundaries.
    Synth s;
    std::atomic<int> applied{-1};   // block whose changes are in place
    std::atomic<int> rendered{-1};  // last block rendered
    std::thread ui([&] {
        for (int k = 0; k < blocks; ++k) {
            while (rendered.load(std::memory_order_acquire) < k - 1) std::this_thread::yield();
            for (int i = k * kChangesPerBlock; i < (k + 1) * kChangesPerBlock && i < kChanges; ++i)
                apply(s.fx, changes[static_cast<std::size_t>(i)]);
            applied.store(k, std::memory_order_release);
        }
    });
    std::vector<float> threaded;
    for (int k = 0; k < blocks; ++k) {
        while (applied.load(std::memory_order_acquire) < k) std::this_thread::yield();
        midiFor(s, k);
        const auto out = renderBlock(s);
        threaded.insert(threaded.end(), out.begin(), out.end());
        rendered.store(k, std::memory_order_release);
    }
    ui.join();

    ASSERT_EQ(threaded.size(), reference.size());
    std::size_t firstDifference = threaded.size();
    for (std::size_t i = 0; i < threaded.size(); ++i)
        if (std::memcmp(&threaded[i], &reference[i], sizeof(float)) != 0) {
            firstDifference = i;
            break;
        }
    EXPECT_EQ(firstDifference, threaded.size()) << "first differing sample";
    bool sounded = false;
    for (float v : reference) sounded = sounded || v != 0.0f;
    EXPECT_TRUE(sounded);
}

TEST(Threads, ReadersSeeOnlyValuesThatWereSent) {
    // getParameter and the display from a third thread while values change: every answer is one
    // of the values sent, never a torn mixture.
    Corvex fx(nullptr);
    const float initial = fx.getParameter(kDecay);
    const float sent[] = {0.25f, 0.75f};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < kChanges; ++i) fx.setParameter(kDecay, sent[i % 2]);
        stop.store(true, std::memory_order_release);
    });
    int64_t bad = 0;
    char text[Corvex::kMaxParamTextBytes];
    while (!stop.load(std::memory_order_acquire)) {
        const float v = fx.getParameter(kDecay);
        if (v != 0.25f && v != 0.75f && v != initial) ++bad;
        fx.getParameterDisplay(kDecay, text);
    }
    writer.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(fx.getParameter(kDecay), 0.75f);
}

}  // namespace

// Hosts make instances on whichever thread they like, several at once: the first synths made
// choose the kernel together, and every one of them, and every later one, gets the same choice.
// Each then renders on its own thread exactly what it renders alone.
namespace {

TEST(Threads, InstancesMadeAndRenderedOnManyThreadsShareOneKernelChoice) {
    constexpr int kThreads = 4;
    std::vector<std::vector<float>> outputs(kThreads);
    std::vector<const Kernel*> chosen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Synth s;
            chosen[t] = &s.fx.core().getKernel();
            s.fx.setProgram(0);  // random gates: each instance draws from its own generator
            s.noteOn(48);
            outputs[t] = s.render(8192, 64);
        });
    }
    for (auto& t : threads) t.join();
    Synth alone;
    alone.fx.setProgram(0);
    alone.noteOn(48);
    const auto expected = alone.render(8192, 64);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(chosen[t], &activeKernel()) << t;
        EXPECT_EQ(outputs[t], expected) << t;
    }
}

}  // namespace
