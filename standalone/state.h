// SPDX-License-Identifier: GPL-3.0-or-later
// The sound the standalone remembers between runs: the current program and its fourteen values,
// and the controllers MIDI learn bound, in a small text file a person can read and edit:
//
//   # Corvex: the sound at the last quit
//   program 12 Birds
//   lfo_freq 0.52
//   ...
//   learn 74 lfo_amnt
//
// kept in $XDG_STATE_HOME/corvex/state (~/.local/state/corvex/state without it). The sound is all
// or nothing: one damaged sound line refuses the whole sound. A learn line ("learn", a controller
// 0-127 other than 123 and 126, a parameter's symbol) stands alone: a damaged one is skipped and
// the rest of the file kept; a later line wins over an earlier one for the same controller or
// parameter, as learning again would. Plain functions: any thread, one at a time per file.
#pragma once

#include "core/params.h"

#include <cstdint>
#include <string>

namespace corvex_standalone {

struct SavedSound {
    SavedSound();
    int32_t program = 0;
    float values[kNumParams] = {};
    // By parameter: the controller (0-127) MIDI learn bound to it; -1 for none.
    int32_t controllers[kNumParams] = {};
};

// The state file's path from the environment; empty when neither XDG_STATE_HOME nor HOME is set.
std::string statePath();

enum class LoadResult { loaded, missing, corrupt };
// Reads path into sound, its learn lines included. corrupt (sound untouched, problem says why) for
// anything but a complete, well-formed sound: a missing or unknown program, a value missing,
// repeated, non-finite or outside 0-1, an unknown line, a file over 64 KiB.
LoadResult loadSound(const std::string& path, SavedSound& sound, std::string& problem);

// Only the learn lines of path, for a start that leaves the saved sound aside (--reset, or a sound
// refused as corrupt): the controllers as SavedSound::controllers has them; all -1 when the file
// is missing, unreadable or over 64 KiB.
void loadControllers(const std::string& path, int32_t (&controllers)[kNumParams]);

// Writes sound to path, with a learn line for each controller bound, whole or not at all: a
// temporary file in the same folder, flushed to disk, then renamed over the old one. Creates the
// folder. False with problem set when it could not.
bool saveSound(const std::string& path, const SavedSound& sound, std::string& problem);

}  // namespace corvex_standalone
