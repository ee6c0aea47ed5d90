// SPDX-License-Identifier: GPL-3.0-or-later
// Guards MIDI decoding and the monophonic note policy: which messages act, and on which note.
#include "support/synth_harness.h"

#include <cmath>

namespace {

TEST(MidiDecoding, NoteOnAnyChannelStartsTheVoice) {
    for (unsigned char status = 0x90; status <= 0x9F; ++status) {
        Synth s;
        EXPECT_EQ(s.send({{0, status, 64, 1}}), 1);
        s.render(1);
        EXPECT_EQ(s.fx.core().getCurrentNote(), 64);
        EXPECT_EQ(s.fx.core().getEnvStage(), kAttackStage) << int(status);
    }
}

TEST(MidiDecoding, VelocityZeroAndNoteOffReleaseOnlyTheCurrentNote) {
    for (unsigned char off : {0x80, 0x8F, 0x90, 0x9A}) {
        Synth s;
        s.noteOn(60);
        s.send({{0, off, 61, 0}});
        s.render(1);
        EXPECT_EQ(s.fx.core().getEnvStage(), kAttackStage) << int(off);
        s.send({{0, off, 60, static_cast<unsigned char>(off < 0x90 ? 64 : 0)}});
        s.render(1);
        EXPECT_EQ(s.fx.core().getEnvStage(), kReleaseStage) << int(off);
    }
}

TEST(MidiDecoding, LastNoteWins) {
    Synth s;
    s.noteOn(60);
    s.noteOn(64);
    s.noteOff(60);  // no longer the current note
    s.render(1);
    EXPECT_EQ(s.fx.core().getCurrentNote(), 64);
    EXPECT_EQ(s.fx.core().getEnvStage(), kAttackStage);

    Synth t;
    t.noteOn(64);
    t.noteOn(60);
    t.noteOff(60);  // releases although 64 is still held
    t.render(1);
    EXPECT_EQ(t.fx.core().getEnvStage(), kReleaseStage);
    EXPECT_EQ(t.fx.core().getCurrentNote(), 60);
}

TEST(MidiDecoding, AllNotesOffAndMonoModeReleaseOtherControllersDoNot) {
    for (unsigned char cc : {120, 121, 64, 1, 7}) {
        Synth s;
        s.noteOn(50);
        s.send({{0, 0xB3, cc, 0}});
        s.render(1);
        EXPECT_EQ(s.fx.core().getEnvStage(), kAttackStage) << int(cc);
    }
    for (unsigned char cc : {123, 126}) {
        Synth s;
        s.noteOn(50);
        s.send({{0, 0xB0, cc, 0}});
        s.render(1);
        EXPECT_EQ(s.fx.core().getEnvStage(), kReleaseStage) << int(cc);
    }
}

TEST(MidiDecoding, OtherMessagesAreIgnored) {
    Synth s;
    s.noteOn(50);
    s.send(
        {{0, 0xA0, 50, 0}, {0, 0xC0, 3, 0}, {0, 0xD0, 0, 0}, {0, 0xF0, 0x7E, 0}, {0, 0xF8, 0, 0}});
    s.render(1);
    EXPECT_EQ(s.fx.core().getQueuedEvents(), 0);
    EXPECT_EQ(s.fx.core().getEnvStage(), kAttackStage);
    EXPECT_EQ(s.fx.core().getCurrentNote(), 50);
    EXPECT_EQ(s.fx.core().getPitchBend(), 1.0f);
}

struct BendCase {
    unsigned char lsb, msb;
    float expected;
};

class PitchBend : public ::testing::TestWithParam<BendCase> {};

TEST_P(PitchBend, RatioIsLinearBetweenTheEnds) {
    Synth s;
    s.send({{0, 0xE5, GetParam().lsb, GetParam().msb}});
    s.render(1);
    EXPECT_EQ(s.fx.core().getPitchBend(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PitchBend,
    ::testing::Values(BendCase{0x00, 0x40, 1.0f}, BendCase{0x00, 0x00, 0.7937004f},
                      BendCase{0x7F, 0x7F, static_cast<float>(1.0 + 0.2599213 * 8191.0 / 8192.0)},
                      BendCase{
                          0x00, 0x20,
                          static_cast<float>(1.0 + double(1.0f - 0.7937004f) * -4096 / 8192.0)}));

TEST(PitchBend, EndRatiosAreTheSemitoneToTheFourth) {
    Synth s;
    s.send({{0, 0xE0, 0x00, 0x00}});
    s.render(1);
    EXPECT_EQ(s.fx.core().getPitchBend(), static_cast<float>(std::pow(1.0594631433486938, -4.0)));
    EXPECT_EQ(1.2599213f, static_cast<float>(std::pow(1.0594631433486938, 4.0)));
}

TEST(PitchBendPersistence, NotesDoNotResetTheBend) {
    Synth s;
    s.send({{0, 0xE0, 0, 0}});
    s.noteOn(60);
    s.noteOff(60);
    s.render(1);
    EXPECT_EQ(s.fx.core().getPitchBend(), 0.7937004f);
}

TEST(MidiDecoding, NonMidiRecordsEmptyAndNullListsChangeNothing) {
    Synth s;
    std::vector<VstMidiEvent> records(2);
    records[0].type = 6;  // a SysEx record
    records[0].midiData[0] = static_cast<char>(0x90);
    records[0].midiData[1] = 60;
    records[0].midiData[2] = 100;
    records[1] = records[0];
    records[1].type = 0;
    EXPECT_EQ(s.sendRecords(records), 1);
    s.render(1);
    EXPECT_EQ(s.fx.core().getEnvStage(), kIdleStage);
    EXPECT_EQ(s.send({}), 1);
    EXPECT_EQ(s.fx.processEvents(nullptr), 1);

    // A list with null entries and a negative count.
    unsigned char storage[sizeof(VstEvents) + 4 * sizeof(VstEvent*)] = {};
    auto* list = reinterpret_cast<VstEvents*>(storage);
    list->numEvents = 3;
    EXPECT_EQ(s.fx.processEvents(list), 1);
    list->numEvents = -5;
    EXPECT_EQ(s.fx.processEvents(list), 1);
    EXPECT_EQ(s.fx.core().getQueuedEvents(), 0);
    s.render(1);
    EXPECT_EQ(s.fx.core().getEnvStage(), kIdleStage);
    EXPECT_EQ(s.fx.core().getCurrentNote(), 0);
}

TEST(NoteFrequencies, AnchorsAndTuning) {
    EXPECT_EQ(CorvexSynth::note2freq(21), 27.5f);
    EXPECT_EQ(CorvexSynth::note2freq(69), 440.00098f);
    EXPECT_EQ(CorvexSynth::note2freq(0), 8.175791f);
    for (int n = 1; n < 128; ++n)
        EXPECT_GT(CorvexSynth::note2freq(n), CorvexSynth::note2freq(n - 1));
    // Upper notes sit slightly sharp of equal temperament.
    EXPECT_GT(CorvexSynth::note2freq(127), 440.0 * std::pow(2.0, 58.0 / 12.0));
}

}  // namespace
