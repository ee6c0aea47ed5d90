// SPDX-License-Identifier: GPL-3.0-or-later
// The voice's event queue: ordered insertion, and the rule for a full queue.
#include "core/event_queue.h"

#include <algorithm>

void VoiceEventQueue::push(const VoiceEvent& event) {
    if (tail - head == kCapacity) {
        overflow(event);
        return;
    }
    if (tail == kCapacity) {
        // Room only before head: close the gap once, so the events stay one ordered run.
        std::copy(events + head, events + tail, events);
        tail -= head;
        head = 0;
    }
    // Hosts send events in order, so the search from the end stops at once; an event that comes
    // out of order still takes its place by frame, after those of its own frame.
    int32_t at = tail;
    while (at > head && events[at - 1].frame > event.frame) --at;
    std::copy_backward(events + at, events + tail, events + tail + 1);
    events[at] = event;
    ++tail;
}

void VoiceEventQueue::overflow(const VoiceEvent& event) {
    ++overflowCount;
    VoiceEvent& last = events[tail - 1];
    switch (event.kind) {
    case VoiceEvent::kNoteOn: return;
    case VoiceEvent::kBend:
        if (last.kind == VoiceEvent::kBend) {
            last.bend = event.bend;
            last.frame = std::max(last.frame, event.frame);
        }
        return;
    case VoiceEvent::kNoteOff:
    case VoiceEvent::kRelease:
        last.kind = VoiceEvent::kRelease;
        last.frame = std::max(last.frame, event.frame);
        return;
    }
}

void VoiceEventQueue::advance(int32_t frames) {
    if (frames <= 0) return;
    for (int32_t i = head; i < tail; ++i)
        events[i].frame = events[i].frame > frames ? events[i].frame - frames : 0;
}
