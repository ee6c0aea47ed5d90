// SPDX-License-Identifier: GPL-3.0-or-later
// The sound the standalone remembers between runs: the current program and its fourteen values,
// in a small text file a person can read and edit:
//
//   # Corvex: the sound at the last quit
//   program 12 Birds
//   lfo_freq 0.52
//   ...
//
// kept in $XDG_STATE_HOME/corvex/state (~/.local/state/corvex/state without it). Plain functions:
// any thread, one at a time per file.
#pragma once

#include "core/params.h"

#include <cstdint>
#include <string>

namespace corvex_standalone {

struct SavedSound {
    int32_t program = 0;
    float values[kNumParams] = {};
};

// The state file's path from the environment; empty when neither XDG_STATE_HOME nor HOME is set.
std::string statePath();

enum class LoadResult { loaded, missing, corrupt };
// Reads path into sound. corrupt (sound untouched, problem says why) for anything but a complete,
// well-formed file: a missing or unknown program, a value missing, repeated, non-finite or outside
// 0-1, an unknown line, a file over 64 KiB.
LoadResult loadSound(const std::string& path, SavedSound& sound, std::string& problem);

// Writes sound to path whole or not at all: a temporary file in the same folder, flushed to disk,
// then renamed over the old one. Creates the folder. False with problem set when it could not.
bool saveSound(const std::string& path, const SavedSound& sound, std::string& problem);

}  // namespace corvex_standalone
