// SPDX-License-Identifier: GPL-3.0-or-later
// VoiceEventQueue: the voice events of the coming blocks, in the order they take effect: by
// frame, and at one frame in the order they came. A fixed array inside the synth: nothing
// allocates, so it may fill, and what happens then is defined below.
//
// Threads: the synth's audio thread only (its MIDI entry pushes, its render pops); not shared.
//
// Capacity. Only what the voice acts on is queued (notes, the release controllers and pitch
// bend); every other message is dropped before it gets here. 2048 events is a bend on every
// other frame of a 4096-frame block, or more than six times what a MIDI cable carries (about
// 1000 messages a second) in the longest block hosts use (8192 frames at 44.1 kHz, 186 ms).
// Nothing a player or a sequencer sends in one block comes near it.
//
// Beyond capacity the queue keeps the voice safe rather than every event: a stuck note is the
// worst outcome, a missing one the mildest.
// - A note-on that finds the queue full is dropped.
// - A pitch bend that finds it full replaces the value of the last queued event if that is a bend
//   (at the later of the two frames), so the pitch still ends where the player left it; otherwise
//   it is dropped.
// - A note-off or release controller is never dropped: the last queued event becomes a release of
//   whatever sounds, at the later of the two frames. The voice ends the queue released, whatever
//   the lost events were.
// Each of these counts in overflowed().
#pragma once

#include <cstdint>

struct VoiceEvent {
    enum Kind : uint8_t { kNoteOn, kNoteOff, kRelease, kBend };
    int32_t frame = 0;  // offset in the coming block, >= 0
    Kind kind = kNoteOn;
    uint8_t note = 0;   // kNoteOn and kNoteOff
    uint16_t bend = 0;  // kBend: 0-16383, 8192 at rest
};

class VoiceEventQueue {
public:
    static constexpr int32_t kCapacity = 2048;

    // Queues the event after every queued event of the same or an earlier frame.
    void push(const VoiceEvent& event);
    bool empty() const { return head == tail; }
    int32_t size() const { return tail - head; }
    // The next event to take effect; only when not empty.
    const VoiceEvent& front() const { return events[head]; }
    void pop() {
        if (++head == tail) head = tail = 0;
    }
    // Moves every queued event frames earlier: the block they were queued for has rendered that
    // many frames. Never below 0.
    void advance(int32_t frames);
    void clear() { head = tail = 0; }
    // Events dropped or merged because the queue was full, since construction.
    uint32_t overflowed() const { return overflowCount; }

private:
    void overflow(const VoiceEvent& event);

    VoiceEvent events[kCapacity];
    int32_t head = 0, tail = 0;
    uint32_t overflowCount = 0;
};
