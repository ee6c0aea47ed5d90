// SPDX-License-Identifier: GPL-3.0-or-later
// Guards sample-exact events in the core: every note, release and bend takes effect at its own
// frame, none is lost when several share a block, the sound does not depend on how the audio is
// cut into blocks, the two rules for frames beyond the block hold, a full queue never leaves a
// note stuck, and the one MIDI parser reads whole messages only.
#include "core/midi.h"
#include "core/synth.h"
#include "support/core_midi.h"
#include "support/score.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr float kRate = 48000.0f;
constexpr int32_t kBlockSizes[] = {1, 7, 64, 1000, 4096};

// A synth with a plain voice: quick attack, full sustain, a long release, no LFO movement.
struct Voice {
    Voice() {
        synth.setSampleRate(kRate);
        synth.reset();
        synth.setParameter(kAttack, 0.0002f);  // 9.6 samples
        synth.setParameter(kDecay, 0.0f);
        synth.setParameter(kSustain, 1.0f);
        synth.setParameter(kRelease, 0.5f);
        synth.setParameter(kLfoAmnt, 0.0f);
    }
    std::vector<float> render(int32_t frames) {
        std::vector<float> left(static_cast<size_t>(frames)), right(left.size());
        synth.render(left.data(), right.data(), frames);
        EXPECT_EQ(left, right);
        return left;
    }
    CorvexSynth synth;
};

bool silent(const std::vector<float>& v, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (v[i] != 0.0f) return false;
    return true;
}

bool sameSamples(const std::vector<float>& a, const std::vector<float>& b, size_t from, size_t to) {
    return std::memcmp(a.data() + from, b.data() + from, (to - from) * sizeof(float)) == 0;
}

// The score rendered one frame at a time: every event at the start of a block of its own.
std::vector<float> oneFrameBlocks(const std::vector<ScoreMessage>& score, int64_t total) {
    Voice v;
    return testsupport::renderScore(v.synth, score, total, [](int) { return 1; });
}

std::vector<float> inOneBlock(const std::vector<ScoreMessage>& score, int64_t total) {
    Voice v;
    return testsupport::renderScore(v.synth, score, total,
                                    [total](int) { return static_cast<int>(total); });
}

// ---- Nothing is lost inside a block -----------------------------------------------------------

TEST(EventsInOneBlock, NoteOnAndItsNoteOffBothTakeEffect) {
    Voice v;
    sendMidi(v.synth, 0x90, 60, 100, 10);
    sendMidi(v.synth, 0x80, 60, 0, 30);
    const auto out = v.render(64);
    EXPECT_TRUE(silent(out, 0, 11)) << "the attack starts at frame 10 from level 0";
    EXPECT_FALSE(silent(out, 11, 30)) << "the note sounds between its on and its off";
    EXPECT_EQ(v.synth.getEnvStage(), kReleaseStage) << "released from frame 30";
    EXPECT_EQ(out, oneFrameBlocks({{10, 0x90, 60, 100}, {30, 0x80, 60, 0}}, 64));
}

TEST(EventsInOneBlock, TwoNoteOnsBothAttackAndEachPitchStartsAtItsFrame) {
    const std::vector<ScoreMessage> both = {{10, 0x90, 60, 100}, {300, 0x90, 67, 100}};
    const auto out = inOneBlock(both, 1024);
    EXPECT_TRUE(silent(out, 0, 11));
    EXPECT_FALSE(silent(out, 11, 300)) << "the first note sounds";
    // Until the second note-on the block is the first note alone; from it on it is not.
    const auto first = inOneBlock({both[0]}, 1024);
    EXPECT_TRUE(sameSamples(out, first, 0, 300));
    EXPECT_FALSE(sameSamples(out, first, 300, 1024));
    EXPECT_EQ(out, oneFrameBlocks(both, 1024));
}

TEST(EventsInOneBlock, NoteOffThenNoteOnReleasesThenAttacks) {
    const std::vector<ScoreMessage> score = {
        {0, 0x90, 60, 100}, {2000, 0x80, 60, 0}, {2300, 0x90, 64, 100}};
    Voice v;
    const auto out = testsupport::renderScore(v.synth, score, 4096, [](int) { return 4096; });
    EXPECT_EQ(v.synth.getEnvStage(), kSustainStage) << "the second note attacked and holds";
    const auto releaseOnly = inOneBlock({score[0], score[1]}, 4096);
    EXPECT_TRUE(sameSamples(out, releaseOnly, 0, 2300)) << "the release is heard up to 2300";
    EXPECT_FALSE(sameSamples(out, releaseOnly, 2300, 4096));
    const auto held = inOneBlock({score[0]}, 4096);
    EXPECT_FALSE(sameSamples(releaseOnly, held, 2000, 2300)) << "and it is a release";
    EXPECT_EQ(out, oneFrameBlocks(score, 4096));
}

TEST(EventsInOneBlock, ABendChangesThePitchFromItsFrameOn) {
    const std::vector<ScoreMessage> score = {{0, 0x90, 60, 100}, {777, 0xE0, 0x00, 0x60}};
    const auto bent = inOneBlock(score, 2048);
    const auto plain = inOneBlock({score[0]}, 2048);
    EXPECT_TRUE(sameSamples(bent, plain, 0, 777));
    EXPECT_FALSE(sameSamples(bent, plain, 777, 2048));
}

TEST(EventsInOneBlock, AtOneFrameEventsTakeEffectInTheOrderTheyCame) {
    // On then off at one frame: released; off then on: sounding.
    Voice onOff, offOn;
    sendMidi(onOff.synth, 0x90, 60, 100, 5);
    sendMidi(onOff.synth, 0x80, 60, 0, 5);
    onOff.render(64);
    EXPECT_EQ(onOff.synth.getEnvStage(), kReleaseStage);
    sendMidi(offOn.synth, 0x80, 0, 0, 5);  // the current note is 0 at first
    sendMidi(offOn.synth, 0x90, 60, 100, 5);
    offOn.render(64);
    EXPECT_EQ(offOn.synth.getEnvStage(), kSustainStage);
}

TEST(EventsInOneBlock, EventsOutOfOrderTakeEffectAtTheirFrames) {
    Voice sorted, shuffled;
    sendMidi(sorted.synth, 0x90, 60, 100, 10);
    sendMidi(sorted.synth, 0xE0, 0, 0x30, 20);
    sendMidi(sorted.synth, 0x80, 60, 0, 40);
    sendMidi(shuffled.synth, 0x80, 60, 0, 40);
    sendMidi(shuffled.synth, 0x90, 60, 100, 10);
    sendMidi(shuffled.synth, 0xE0, 0, 0x30, 20);
    EXPECT_EQ(sorted.render(256), shuffled.render(256));
}

// ---- Beyond the block: carried or clamped, as the face asks ------------------------------------

TEST(BeyondTheBlock, CarriedEventsSurviveLaterEventsAtFrameZero) {
    Voice v;
    sendMidi(v.synth, 0x90, 60, 100, 0);
    sendMidi(v.synth, 0x80, 60, 0, 600);  // announced beyond this 512-frame block
    v.render(512);
    EXPECT_EQ(v.synth.getQueuedEvents(), 1);
    sendMidi(v.synth, 0xE0, 0, 0x40, 0);  // the next block's own event at frame 0
    v.render(88);
    EXPECT_EQ(v.synth.getEnvStage(), kSustainStage) << "the note-off falls due at 88";
    v.render(1);
    EXPECT_EQ(v.synth.getEnvStage(), kReleaseStage);
    EXPECT_EQ(v.synth.getQueuedEvents(), 0);
}

TEST(BeyondTheBlock, ClampedEventsTakeEffectOnTheBlocksLastFrame) {
    for (int32_t frame : {63, 64, 1000, INT32_MAX}) {
        SCOPED_TRACE(frame);
        Voice v;
        sendMidi(v.synth, 0x90, 60, 100, frame, 64);
        EXPECT_TRUE(silent(v.render(64), 0, 64)) << "the attack's first sample is level 0";
        EXPECT_EQ(v.synth.getEnvStage(), kAttackStage) << "started at frame 63";
        EXPECT_EQ(v.synth.getEnvCounter(), 1);
    }
    Voice early;
    sendMidi(early.synth, 0x90, 60, 100, -50, 64);
    sendMidi(early.synth, 0x90, 60, 100, INT32_MIN, CorvexSynth::kCarryBeyondBlock);
    const auto out = early.render(64);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_NE(out[1], 0.0f) << "before the block counts as its first frame";
}

// ---- The block-size property ------------------------------------------------------------------

TEST(BlockSizes, DenseRandomScoresSoundTheSameAtEveryBlockSize) {
    constexpr int64_t kTotal = 12000;
    for (int32_t program = 0; program < kNumPrograms; ++program) {
        const auto score = testsupport::randomScore(1000 + static_cast<uint32_t>(program), kTotal);
        std::vector<float> reference;
        for (int32_t block : kBlockSizes) {
            SCOPED_TRACE("program " + std::to_string(program) + ", block " + std::to_string(block));
            CorvexSynth synth;
            synth.setSampleRate(program % 2 ? 44100.0f : 48000.0f);
            synth.reset();
            synth.setProgram(program);
            const auto out =
                testsupport::renderScore(synth, score, kTotal, [block](int) { return block; });
            for (float x : out) ASSERT_TRUE(std::isfinite(x));
            if (reference.empty()) {
                reference = out;
                ASSERT_FALSE(silent(out, 0, out.size())) << "a silent render compares nothing";
            } else {
                ASSERT_TRUE(sameSamples(out, reference, 0, out.size()));
            }
        }
    }
}

// Each note and bend derives the partial steps again from its frame; with the derivations kept
// between spans or made afresh for every one, the samples are the same.
TEST(BlockSizes, DerivationsKeptOrMadeAfreshGiveTheSameSamples) {
    for (int32_t program : {0, 5, 12, 44}) {
        const auto score = testsupport::randomScore(40 + static_cast<uint32_t>(program), 8000);
        std::vector<float> out[2];
        for (bool caching : {true, false}) {
            CorvexSynth synth;
            synth.setSampleRate(44100.0f);
            synth.reset();
            synth.setProgram(program);
            synth.setDerivedCaching(caching);
            out[caching] = testsupport::renderScore(synth, score, 8000, [](int) { return 64; });
        }
        EXPECT_TRUE(sameSamples(out[0], out[1], 0, out[0].size())) << program;
    }
}

TEST(BlockSizes, BlocksOfChangingLengthSoundAsOneFrameBlocks) {
    const auto score = testsupport::randomScore(77, 20000);
    const int lengths[] = {1, 300, 17, 4096, 2, 999};
    Voice odd, single;
    const auto a =
        testsupport::renderScore(odd.synth, score, 20000, [&](int n) { return lengths[n % 6]; });
    const auto b = testsupport::renderScore(single.synth, score, 20000, [](int) { return 1; });
    EXPECT_EQ(a, b);
}

// ---- A full queue -----------------------------------------------------------------------------

TEST(FullQueue, TenThousandEventsInOneBlockEndReleasedWithoutANoteStuck) {
    Voice v;
    for (int i = 0; i < 10000; ++i) sendMidi(v.synth, 0x90, 60, 100, i % 4096, 4096);
    sendMidi(v.synth, 0x80, 60, 0, 4095, 4096);
    EXPECT_EQ(v.synth.getQueuedEvents(), VoiceEventQueue::kCapacity);
    EXPECT_EQ(v.synth.getOverflowedEvents(), 10001u - VoiceEventQueue::kCapacity);
    v.render(4096);
    EXPECT_EQ(v.synth.getEnvStage(), kReleaseStage) << "the note-off was kept";
    EXPECT_EQ(v.synth.getQueuedEvents(), 0);
}

TEST(FullQueue, ANoteOffForAnotherNoteStillReleasesAndBendsKeepTheLastValue) {
    // Out of room, even a note-off that names another note ends in a release: better than a
    // note that may never end.
    Voice v;
    for (int i = 0; i < VoiceEventQueue::kCapacity; ++i) sendMidi(v.synth, 0x90, 60, 100, i);
    sendMidi(v.synth, 0x80, 61, 0, 10);
    v.render(4096);
    EXPECT_EQ(v.synth.getEnvStage(), kReleaseStage);

    Voice bends, reference;
    for (int i = 0; i < VoiceEventQueue::kCapacity; ++i)
        sendMidi(bends.synth, 0xE0, 0, static_cast<uint8_t>(i % 128), i);
    sendMidi(bends.synth, 0xE0, 0x7F, 0x7F, 3000);  // merged into the last bend
    sendMidi(bends.synth, 0x90, 60, 100, 3001);     // no room: dropped
    EXPECT_EQ(bends.synth.getOverflowedEvents(), 2u);
    bends.render(4096);
    sendMidi(reference.synth, 0xE0, 0x7F, 0x7F, 0);
    reference.render(1);
    EXPECT_EQ(bends.synth.getPitchBend(), reference.synth.getPitchBend());
    EXPECT_EQ(bends.synth.getEnvStage(), kIdleStage);
}

TEST(FullQueue, ResetEmptiesTheQueue) {
    Voice v;
    sendMidi(v.synth, 0x90, 60, 100, 100000);
    v.synth.reset();
    EXPECT_EQ(v.synth.getQueuedEvents(), 0);
}

TEST(UnusableRate, EventsStillTakeEffectSoNoNoteIsLeftBehind) {
    Voice v;
    v.synth.setSampleRate(0.0f);
    sendMidi(v.synth, 0x90, 60, 100, 3);
    EXPECT_TRUE(silent(v.render(64), 0, 64));
    EXPECT_EQ(v.synth.getEnvStage(), kAttackStage);
    sendMidi(v.synth, 0x80, 60, 0, 5);
    v.render(64);
    EXPECT_EQ(v.synth.getEnvStage(), kReleaseStage);
    EXPECT_EQ(v.synth.getQueuedEvents(), 0);
}

// ---- The MIDI entry reads whole messages only ---------------------------------------------------

struct Bytes {
    std::vector<uint8_t> bytes;
    MidiKind kind;
};

class MidiBytes : public ::testing::TestWithParam<Bytes> {};

TEST_P(MidiBytes, DecodeAsDocumented) {
    const auto& p = GetParam();
    EXPECT_EQ(decodeMidi(p.bytes.data(), p.bytes.size()).kind, p.kind);
    const bool acts =
        p.kind == MidiKind::kNoteOn || p.kind == MidiKind::kNoteOff ||
        p.kind == MidiKind::kPitchBend ||
        (p.kind == MidiKind::kControlChange && (p.bytes[1] == 123 || p.bytes[1] == 126));
    Voice v;
    EXPECT_EQ(v.synth.midi(p.bytes.data(), p.bytes.size(), 0, 64), acts);
    EXPECT_EQ(v.synth.getQueuedEvents(), acts ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MidiBytes,
    ::testing::Values(
        Bytes{{0x93, 60, 1}, MidiKind::kNoteOn}, Bytes{{0x93, 60, 0}, MidiKind::kNoteOff},
        Bytes{{0x8F, 60, 64, 0xFF, 0x00}, MidiKind::kNoteOff},  // bytes after: ignored
        Bytes{{0xB0, 123, 0}, MidiKind::kControlChange},
        Bytes{{0xB5, 126, 1}, MidiKind::kControlChange},
        Bytes{{0xB0, 120, 0}, MidiKind::kControlChange},
        Bytes{{0xE0, 0x7F, 0x7F}, MidiKind::kPitchBend}, Bytes{{0xC0, 5}, MidiKind::kProgramChange},
        Bytes{{0xD0, 5}, MidiKind::kChannelPressure}, Bytes{{0xA0, 60, 5}, MidiKind::kPolyPressure},
        Bytes{{0x90, 60}, MidiKind::kNone},          // cut short
        Bytes{{0xE0}, MidiKind::kNone},              // cut short
        Bytes{{60, 100}, MidiKind::kNone},           // running status: no status
        Bytes{{0xF0, 0x7E, 0xF7}, MidiKind::kNone},  // system exclusive
        Bytes{{0xF8}, MidiKind::kNone},              // clock
        Bytes{{}, MidiKind::kNone}));

TEST(MidiEntry, NullBytesAndDataBytesWithTheTopBitSet) {
    Voice v;
    EXPECT_FALSE(v.synth.midi(nullptr, 3, 0, 64));
    const uint8_t loud[] = {0x90, 0xBC, 0xFF};  // read as note 60, velocity 127
    EXPECT_TRUE(v.synth.midi(loud, sizeof loud, 0, 64));
    v.render(1);
    EXPECT_EQ(v.synth.getCurrentNote(), 60);
    const DecodedMidi bend = decodeMidi(std::vector<uint8_t>{0xE3, 0x01, 0x40}.data(), 3);
    EXPECT_EQ(bend.channel, 3);
    EXPECT_EQ(bend.bendValue(), 8193);
}

}  // namespace
