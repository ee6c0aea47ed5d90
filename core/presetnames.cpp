// SPDX-License-Identifier: GPL-3.0-or-later
// The factory program names. Programs 48-63 share one name.
#include "core/params.h"

namespace {
const char kDefaultName[] = "default";
}  // namespace

const char* const prognames[kNumPrograms] = {
    "Aquatic",        "Arpeggio",   "Fluctuating", "Birds",       "Chimes-1",   "Chimes-2",
    "Chimes-3",       "FX-1",       "FX-2",        "Texture-1",   "Texture-2",  "Texture-3",
    "Texture-4",      "Texture-5",  "SlowTexture", "Weird-1",     "Weird-2",    "Weird-3",
    "WeirdPad",       "Ambient-1",  "Ambient-2",   "PluckedBees", "Rain",       "Grains-1",
    "Grains-2",       "Grains-3",   "Helicopter",  "MovingFast",  "Sequence-1", "Sequence-2",
    "Sequence-3",     "Sequence-4", "Sequence-5",  "Sequence-6",  "Sequence-7", "SoftSequence-1",
    "SoftSequence-2", " Bass-1",    " Bass-2",     " Bass-3",     " Bass-4",    "Pad-1",
    "Pad-2",          "Pad-3",      "MovingPad-1", "MovingPad-2", "WhaWha",     "Organ-like",
    kDefaultName,     kDefaultName, kDefaultName,  kDefaultName,  kDefaultName, kDefaultName,
    kDefaultName,     kDefaultName, kDefaultName,  kDefaultName,  kDefaultName, kDefaultName,
    kDefaultName,     kDefaultName, kDefaultName,  kDefaultName,
};
