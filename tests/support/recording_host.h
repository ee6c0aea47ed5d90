// A host callback that records every request and answers from a table the test sets.
#pragma once

#include "host/aeffect.h"

#include <map>
#include <string>
#include <vector>

struct HostCall {
    AEffect* effect;
    int32_t opcode;
    int32_t index;
    intptr_t value;
    void* ptr;
    float opt;
    std::string text; // ptr read as a string, for the requests that pass one
};

class RecordingHost {
public:
    RecordingHost();
    ~RecordingHost();

    // The callback to hand to an effect; it reaches whichever RecordingHost is current.
    static audioMasterCallback callback();

    std::map<int32_t, intptr_t> answers; // by opcode; absent opcodes answer 0
    std::vector<HostCall> calls;

    int count(int32_t opcode) const;
    const HostCall* last(int32_t opcode) const;
};
