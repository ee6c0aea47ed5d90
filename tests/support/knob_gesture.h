// SPDX-License-Identifier: GPL-3.0-or-later
// The knob drag the window tests make with XTest: pressed 25 pixels left of a knob's centre, half
// a turn clockwise over the top at about a step per 60 Hz frame, released after a pause. Run from
// a child process, since the test's own thread sits in the editor's tracking loop meanwhile.
#pragma once

#include "process_probe.h"
#include "testkit/x11_host.h"

#include <cmath>
#include <cstdint>

namespace testsupport {

// The pid of the child that drags around screen point (cx, cy); wait for it with finished().
inline pid_t dragKnobHalfTurn(int32_t cx, int32_t cy) {
    return inChildProcess([cx, cy] {
        namespace x11 = testkit::x11host;
        x11::movePointer(cx - 25, cy);
        sleepMs(100);
        x11::button(1, true);
        for (int step = 0; step <= 36; ++step) {
            const double a = 3.141592653589793 * (1.0 - step / 36.0);
            x11::movePointer(cx + static_cast<int32_t>(25 * std::cos(a)),
                             cy - static_cast<int32_t>(25 * std::sin(a)));
            sleepMs(16);
        }
        sleepMs(300);
        x11::button(1, false);
    });
}

}  // namespace testsupport
