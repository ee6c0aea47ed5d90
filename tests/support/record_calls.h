// Calls on a plug-in's record straight through its dispatcher, for tests that drive the record by
// hand (loading and host callbacks: hostkit).
#pragma once

#include "host/aeffect.h"

#include <string>

inline intptr_t dispatch(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                         void* ptr = nullptr, float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}
// A text request into a 256-byte buffer filled with 0x7F first, so a missing terminator shows.
std::string dispatchText(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0);
