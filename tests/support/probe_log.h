// SPDX-License-Identifier: GPL-3.0-or-later
// What the probe plug-in saw of its host; the probe exports one as the symbol "probeLog".
#pragma once

#include <cstdint>

constexpr int kProbeLogSize = 4096;
// Pseudo-opcodes logged for the calls that do not go through the dispatcher.
constexpr int32_t kProbeProcessReplacing = -1;
constexpr int32_t kProbeProcess = -2;
constexpr int32_t kProbeSetParameter = -3;

struct ProbeLog {
    int32_t entries[kProbeLogSize];  // dispatcher opcodes and the pseudo-opcodes above, in order
    int count;
    intptr_t hostVersion;  // the host's answers
    intptr_t hostSampleRate;
    intptr_t hostBlockSize;
    intptr_t hostTime;
    intptr_t hostUnknown;
    intptr_t hostCanSendMidi;
    intptr_t hostCanSizeWindow;
    char hostProduct[64];
    float sampleRate;  // what the host set
    int32_t blockSize;
    int events;           // MIDI events received
    int misplacedEvents;  // events whose offset lay outside their block
};
