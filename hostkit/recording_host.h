// SPDX-License-Identifier: GPL-3.0-or-later
// A host callback that records every request and answers from a table its owner sets: for tests
// that check what a plug-in asks of its host, and for sessions that write the requests down.
//
// One RecordingHost is current at a time: the latest constructed of those alive. The callback
// reaches it and answers 0 when none is. Single-threaded: the owner's thread only.
#pragma once

#include "host/aeffect.h"

#include <map>
#include <string>
#include <vector>

namespace hostkit {

struct HostCall {
    AEffect* effect;
    int32_t opcode;
    int32_t index;
    intptr_t value;
    void* ptr;
    float opt;
    std::string text;  // ptr read as a string, for the requests that pass one
};

class RecordingHost {
public:
    RecordingHost();
    ~RecordingHost();
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    // The callback to hand to an effect; it reaches whichever RecordingHost is current.
    static audioMasterCallback callback();

    std::map<int32_t, intptr_t> answers;  // by opcode; absent opcodes answer 0
    std::vector<HostCall> calls;

    int count(int32_t opcode) const;
    const HostCall* last(int32_t opcode) const;

private:
    RecordingHost* previous;  // the host that was current before this one
};

}  // namespace hostkit
