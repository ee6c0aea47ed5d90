// SPDX-License-Identifier: GPL-3.0-or-later
// Note names for the command line: "C4" is note 60, "A4" note 69, "C-1" note 0, "G9" note 127.
#pragma once

#include <optional>
#include <string>

namespace hostkit {

// Parses a MIDI note number ("60") or a name: a letter A-G (either case), any number of sharps
// ('#') or flats ('b'), and an octave from -1 to 9. Returns nothing for anything else, including
// names outside 0-127 such as "Cb-1" or "G#9".
std::optional<int> parseNote(const std::string& text);

// The name of a note number with sharps ("C#4"); "?" outside 0-127.
std::string noteName(int note);

}  // namespace hostkit
