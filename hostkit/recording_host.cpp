// SPDX-License-Identifier: GPL-3.0-or-later
// The recording host callback and its bookkeeping.
#include "hostkit/recording_host.h"

namespace hostkit {

namespace {
RecordingHost* gCurrent = nullptr;

bool passesText(int32_t opcode) { return opcode == audioMasterCanDo; }

intptr_t recordingCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                           void* ptr, float opt) {
    if (!gCurrent) return 0;
    HostCall call{effect, opcode, index, value, ptr, opt, {}};
    if (ptr && passesText(opcode)) call.text = static_cast<const char*>(ptr);
    gCurrent->calls.push_back(call);
    const auto it = gCurrent->answers.find(opcode);
    return it == gCurrent->answers.end() ? 0 : it->second;
}
}  // namespace

RecordingHost::RecordingHost() : previous(gCurrent) { gCurrent = this; }

// Unlinks this host from the chain of live ones, so that a host made and dropped inside another's
// life (a session run from a test) hands the callback back to the outer one.
RecordingHost::~RecordingHost() {
    if (gCurrent == this) {
        gCurrent = previous;
        return;
    }
    for (RecordingHost* h = gCurrent; h; h = h->previous) {
        if (h->previous == this) {
            h->previous = previous;
            return;
        }
    }
}

audioMasterCallback RecordingHost::callback() { return recordingCallback; }

int RecordingHost::count(int32_t opcode) const {
    int n = 0;
    for (const auto& c : calls) n += c.opcode == opcode;
    return n;
}

const HostCall* RecordingHost::last(int32_t opcode) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->opcode == opcode) return &*it;
    return nullptr;
}

}  // namespace hostkit
