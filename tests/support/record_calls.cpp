// Text requests on a record.
#include "record_calls.h"

#include <cstring>

std::string dispatchText(AEffect* e, int32_t opcode, int32_t index, intptr_t value) {
    char buffer[256];
    std::memset(buffer, 0x7F, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    dispatch(e, opcode, index, value, buffer);
    return buffer;
}
