// SPDX-License-Identifier: GPL-3.0-or-later
// The names saved sessions and hosts know Corvex's LV2 bundle by: the URIs of the plug-in, its
// user interface and its presets, the bundle's file names and the port numbering. Saved sessions
// refer to these, so none of them may ever change. Constant data: any thread.
#pragma once

#include "core/params.h"

#include <cstdint>

namespace corvex_lv2 {

inline constexpr char kPluginUri[] = "https://ondrel.example/plugins/corvex";
inline constexpr char kUiUri[] = "https://ondrel.example/plugins/corvex#ui";
inline constexpr char kOutputGroupUri[] = "https://ondrel.example/plugins/corvex#out";
// Program n (0-63) is the preset kPresetUriPrefix followed by n in decimal: by number, so a
// renamed program keeps its URI.
inline constexpr char kPresetUriPrefix[] = "https://ondrel.example/plugins/corvex/presets/";

inline constexpr char kDspBinary[] = "corvex_dsp.so";
inline constexpr char kUiBinary[] = "corvex_ui.so";

// Ports 0-13 are the parameters in index order, then the MIDI input and the two outputs.
inline constexpr uint32_t kMidiInPort = kNumParams;
inline constexpr uint32_t kLeftOutPort = kNumParams + 1;
inline constexpr uint32_t kRightOutPort = kNumParams + 2;
inline constexpr uint32_t kNumPorts = kNumParams + 3;
inline constexpr char kMidiInSymbol[] = "midi_in";
inline constexpr char kLeftOutSymbol[] = "out_left";
inline constexpr char kRightOutSymbol[] = "out_right";

}  // namespace corvex_lv2
