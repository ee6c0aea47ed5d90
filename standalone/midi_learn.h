// SPDX-License-Identifier: GPL-3.0-or-later
// MidiLearn: which MIDI controller moves which parameter in the standalone, and the one
// parameter waiting to learn a controller. Plug-ins leave this to their hosts; a standalone
// program has no host to do it.
//
// A controller (0-127, on any channel) moves at most one parameter and a parameter answers at
// most one controller: binding either side unbinds what it was bound to. Controllers 123 and 126
// keep their meaning (they release the voice) and are never bound.
//
// Threads: arm, cancel, bind, forget and the readers from the main thread; take from the audio
// thread, at the same time. Every slot is an atomic, so neither side ever waits: a binding made on
// one side is seen by the other at its next look.
#pragma once

#include "core/params.h"

#include <atomic>
#include <cstdint>

namespace corvex_standalone {

class MidiLearn {
public:
    static constexpr int32_t kControllers = 128;

    MidiLearn();

    // ---- Main thread ----
    // The next controller that moves binds to parameter (0-13; others are ignored).
    void arm(int32_t parameter);
    void cancel() { armed.store(-1, std::memory_order_relaxed); }
    // The parameter waiting for a controller; -1 for none.
    int32_t armedParameter() const { return armed.load(std::memory_order_relaxed); }
    // Binds controller to parameter; false (nothing changes) for a controller outside 0-127, 123,
    // 126, or a parameter outside 0-13.
    bool bind(int32_t controller, int32_t parameter);
    void forget(int32_t parameter);
    void forgetAll();
    // The controller bound to parameter; -1 for none.
    int32_t controllerOf(int32_t parameter) const;
    // The parameter controller moves; -1 for none.
    int32_t parameterOf(int32_t controller) const;
    // Grows by one at every binding made or forgotten on either thread, so the window knows when
    // to look again.
    uint32_t changes() const { return changeCount.load(std::memory_order_acquire); }

    // ---- Audio thread ----
    // What a control change does: the parameter it moves (binding it first if one is armed), or
    // -1 when the synth should see it as it is.
    int32_t take(uint8_t controller);

    // A value 0-127 as the parameter's 0-1.
    static float valueOf(uint8_t data) { return static_cast<float>(data & 0x7F) / 127.0f; }

private:
    static bool learnable(int32_t controller) {
        return controller >= 0 && controller < kControllers && controller != 123 &&
               controller != 126;
    }
    void set(int32_t controller, int32_t parameter);

    std::atomic<int8_t> parameterByController[kControllers];
    std::atomic<int32_t> armed{-1};
    std::atomic<uint32_t> changeCount{0};
};

}  // namespace corvex_standalone
