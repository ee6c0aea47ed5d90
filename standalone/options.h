// SPDX-License-Identifier: GPL-3.0-or-later
// The standalone's command line, the program names it accepts and the test seam's list of timed
// MIDI messages. Plain functions of their arguments: any thread.
#pragma once

#include "standalone/timed_midi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvex_standalone {

// Which sound system plays: JACK when a server answers, else ALSA (automatic); or only one.
enum class AudioChoice { automatic, jack, alsa };

struct Options {
    bool headless = false;
    bool connect = true;
    bool reset = false;
    bool help = false;
    bool version = false;
    std::string program;  // as given; empty: the saved one (or the first)
    AudioChoice audio = AudioChoice::automatic;
    // ALSA's PCM and what to ask it for (the device may choose nearby values); JACK's server
    // decides these for itself.
    std::string device = "default";
    uint32_t rate = 48000;
    uint32_t period = 256;
    bool alsaSettingsGiven = false;  // any of --device, --rate, --period
};

// What --rate and --period accept.
constexpr uint32_t kMinRate = 8000, kMaxRate = 384000;
constexpr uint32_t kMinPeriod = 16, kMaxPeriod = 8192;

// Fills options from argv; false with error set for anything it does not know.
bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error);
const char* usage();

// The test seam's messages (the environment variable CORVEX_TEST_NOTES, which the tests use to
// play notes at known frames of an ALSA device without a MIDI port): comma-separated
// "frame:status:data1:data2", numbers in decimal or 0x-hex, frames counted from the first frame
// played. Channel messages only; a two-byte message (program change, channel pressure) ignores
// data2. Sorted by frame, keeping the order of equal frames. False with error set for anything
// malformed, and for more than kMaxScheduledMidi messages.
constexpr std::size_t kMaxScheduledMidi = 4096;
bool parseScheduledMidi(const std::string& text, std::vector<ScheduledMidi>& out,
                        std::string& error);

// The 64 programs' names as the synth lists them ("Init" programs numbered).
std::vector<std::string> programNames();
// The program that text names: an index 0-63, or a name matched exactly, then ignoring case and
// surrounding blanks. -1 when none.
int32_t findProgram(const std::string& text);
// Up to five names close to text (sharing a part of it, or a few typing slips away), closest
// first; for the message about an unknown program.
std::vector<std::string> nearPrograms(const std::string& text);

}  // namespace corvex_standalone
