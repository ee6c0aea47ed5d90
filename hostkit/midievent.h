// SPDX-License-Identifier: GPL-3.0-or-later
// A MIDI channel message placed at an absolute sample frame of a render.
#pragma once

#include <array>
#include <cstdint>

namespace hostkit {

struct TimedMidiEvent {
    int64_t frame = 0;               // from the start of the render
    std::array<uint8_t, 3> bytes{};  // status, data 1, data 2 (0 when the message has one)
};

}  // namespace hostkit
