// SPDX-License-Identifier: GPL-3.0-or-later
// SpscRing: a fixed-size lock-free queue between exactly one producer thread and one consumer
// thread, for the short messages the standalone passes between its main thread and JACK's process
// thread. Nothing allocates after construction (the storage is part of the object), and push and
// pop are a few loads and stores, so either side may be the audio thread.
//
// Threads: push from the one producer thread only, pop from the one consumer thread only; both
// may run at the same time. A full ring refuses the push (the caller decides what is lost).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvex_standalone {

template <typename T, std::size_t Capacity> class SpscRing {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0,
                  "a power of two, so the indices may wrap freely");

public:
    // False (nothing stored) when the ring is full.
    bool push(const T& item) {
        const uint32_t w = writeIndex.load(std::memory_order_relaxed);
        if (w - readIndex.load(std::memory_order_acquire) >= Capacity) return false;
        slots[w & (Capacity - 1)] = item;
        writeIndex.store(w + 1, std::memory_order_release);
        return true;
    }
    // False when the ring is empty.
    bool pop(T& item) {
        const uint32_t r = readIndex.load(std::memory_order_relaxed);
        if (r == writeIndex.load(std::memory_order_acquire)) return false;
        item = slots[r & (Capacity - 1)];
        readIndex.store(r + 1, std::memory_order_release);
        return true;
    }

private:
    // Apart, so the two sides do not write to one cache line.
    alignas(64) std::atomic<uint32_t> writeIndex{0};
    alignas(64) std::atomic<uint32_t> readIndex{0};
    alignas(64) T slots[Capacity] = {};
};

// One channel message, as the process thread hands it to the synth or the main thread.
struct MidiMessage {
    uint8_t status = 0, data1 = 0, data2 = 0;
};

}  // namespace corvex_standalone
