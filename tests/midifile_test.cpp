// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the Standard MIDI File reader against mistimed events (tempo maps, SMPTE timing,
// rounding), lost or misread events (running status, skipped messages, track merging) and
// against accepting malformed files instead of refusing them.
#include "hostkit/midifile.h"
#include "support/render_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using hostkit::MidiFile;
using hostkit::MidiFileError;
using testsupport::Bytes;
using testsupport::Smf;

namespace {

MidiFile parse(const Bytes& b) { return MidiFile::parse(b.data(), b.size()); }

Bytes format0(uint16_t division, const Bytes& events) {
    return Smf::cat({Smf::header(0, 1, division), Smf::track(events)});
}

std::vector<int64_t> framesOf(const MidiFile& m, uint32_t rate) {
    std::vector<int64_t> frames;
    for (const auto& e : m.schedule(rate)) frames.push_back(e.frame);
    return frames;
}

TEST(MidiFileTiming, DefaultTempoIs120BeatsPerMinute) {
    const auto m =
        parse(format0(480, Smf::cat({Smf::event(0, {0x90, 60, 100}), Smf::event(480, {0x80, 60, 0}),
                                     Smf::event(960, {0x90, 62, 90})})));
    EXPECT_EQ(framesOf(m, 48000), (std::vector<int64_t>{0, 24000, 72000}));
    EXPECT_EQ(framesOf(m, 44100), (std::vector<int64_t>{0, 22050, 66150}));
}

TEST(MidiFileTiming, TempoChangesApplyFromTheirTickOnward) {
    // 120 bpm for two beats (1 s), 60 bpm for one beat (1 s), then 240 bpm (0.25 s per beat).
    const auto m = parse(format0(
        480, Smf::cat({Smf::event(0, {0x90, 60, 100}), Smf::tempo(960, 1000000),
                       // Same tick as the change: its time does not depend on the new tempo.
                       Smf::event(0, {0x80, 60, 0}), Smf::tempo(480, 250000),
                       Smf::event(0, {0x90, 61, 100}), Smf::event(480, {0x80, 61, 0}),
                       Smf::event(240, {0x90, 62, 100})})));
    EXPECT_EQ(framesOf(m, 48000), (std::vector<int64_t>{0, 48000, 96000, 108000, 114000}));
    EXPECT_EQ(m.frameAt(1440 + 480 + 240, 48000), 114000);
}

TEST(MidiFileTiming, FractionalFramesRoundToTheNearestSample) {
    // 100 bpm at 96 ticks per quarter: one tick is 6250 microseconds, 275.625 frames at 44.1 kHz.
    const auto m = parse(
        format0(96, Smf::cat({Smf::tempo(0, 600000), Smf::event(1, {0x90, 60, 100}),
                              Smf::event(1, {0x80, 60, 0}), Smf::event(2, {0x90, 60, 100})})));
    EXPECT_EQ(framesOf(m, 44100), (std::vector<int64_t>{276, 551, 1103}));
}

TEST(MidiFileTiming, ScheduleAgreesWithFrameAtAcrossManyTempoChanges) {
    Bytes events;
    for (uint32_t i = 0; i < 200; ++i) {
        const uint32_t tempo = 300000 + (i * 7919u) % 700000;
        events = Smf::cat({events, Smf::tempo(i % 3 == 0 ? 0 : 37, tempo),
                           Smf::event(13 + i % 11, {0x90, static_cast<uint8_t>(i % 128), 1})});
    }
    const auto m = parse(format0(192, events));
    const auto schedule = m.schedule(96000);
    ASSERT_EQ(schedule.size(), m.messages().size());
    for (std::size_t i = 0; i < schedule.size(); ++i)
        EXPECT_EQ(schedule[i].frame, m.frameAt(m.messages()[i].tick, 96000)) << i;
}

TEST(MidiFileTiming, SmpteDivisionCountsFramesNotBeats) {
    // 25 frames x 40 ticks = 1000 ticks per second; the tempo event has no effect.
    const uint16_t division = static_cast<uint16_t>((static_cast<uint8_t>(-25) << 8) | 40);
    const auto m =
        parse(format0(division, Smf::cat({Smf::tempo(0, 1000000), Smf::event(1000, {0x90, 60, 1}),
                                          Smf::event(500, {0x80, 60, 0})})));
    EXPECT_EQ(framesOf(m, 48000), (std::vector<int64_t>{48000, 72000}));
    // 29.97 drop-frame rate: 30000 ticks at 1 tick per frame last 1001 seconds.
    const uint16_t ntsc = static_cast<uint16_t>((static_cast<uint8_t>(-29) << 8) | 1);
    const auto n = parse(format0(ntsc, Smf::event(30000, {0x90, 60, 1})));
    EXPECT_EQ(framesOf(n, 1000), (std::vector<int64_t>{1001000}));
}

TEST(MidiFileTiming, HugeDeltaTimesStayOrderedWithoutOverflow) {
    Bytes events = Smf::tempo(0, 0xFFFFFF);
    for (int i = 0; i < 8; ++i) events = Smf::cat({events, Smf::event(0x0FFFFFFF, {0x90, 60, 1})});
    const auto frames = framesOf(parse(format0(1, events)), 384000);
    ASSERT_EQ(frames.size(), 8u);
    for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_GT(frames[i], frames[i - 1]);
}

TEST(MidiFileEvents, RunningStatusRepeatsTheLastChannelStatus) {
    const auto m =
        parse(format0(480, Smf::cat({Smf::event(0, {0x91, 60, 100}), Smf::event(10, {62, 101}),
                                     Smf::event(10, {60, 0}), Smf::event(10, {0xE1, 0x00, 0x40}),
                                     Smf::event(10, {0x7F, 0x7F})})));
    const auto& msgs = m.messages();
    ASSERT_EQ(msgs.size(), 5u);
    const std::array<uint8_t, 3> expected[] = {
        {0x91, 60, 100}, {0x91, 62, 101}, {0x91, 60, 0}, {0xE1, 0x00, 0x40}, {0xE1, 0x7F, 0x7F}};
    for (std::size_t i = 0; i < msgs.size(); ++i) EXPECT_EQ(msgs[i].bytes, expected[i]) << i;
    EXPECT_EQ(msgs[4].tick, 40);
}

TEST(MidiFileEvents, RunningStatusSurvivesMetaEventsBetweenMessages) {
    // Not allowed by the letter of the format, but common in files from the wild.
    const auto m = parse(format0(
        480, Smf::cat({Smf::event(0, {0x90, 60, 100}), Smf::event(0, {0xFF, 0x01, 0x02, 'h', 'i'}),
                       Smf::event(5, {60, 0})})));
    ASSERT_EQ(m.messages().size(), 2u);
    EXPECT_EQ(m.messages()[1].bytes, (std::array<uint8_t, 3>{0x90, 60, 0}));
}

TEST(MidiFileEvents, KeepsNotesControllersAndBendsAndReadsPastTheRest) {
    const auto m = parse(
        format0(480, Smf::cat({Smf::event(0, {0xC0, 5}),       // program change: 1 data byte
                               Smf::event(0, {0xB0, 7, 100}),  // controller: kept
                               Smf::event(0, {0xD0, 64}),      // channel pressure: 1 byte
                               Smf::event(0, {0xA0, 60, 30}),  // key pressure
                               Smf::event(0, {0xF0, 0x03, 0x43, 0x12, 0xF7}),  // system exclusive
                               Smf::event(0, {0xF7, 0x01, 0x00}),  // escaped sysex packet
                               Smf::event(0, {0xFF, 0x03, 0x00}),  // empty track name
                               Smf::event(1, {0x90, 64, 80}), Smf::event(1, {0x80, 64, 10}),
                               Smf::event(1, {0xE0, 0x00, 0x50})})));
    std::vector<uint8_t> statuses;
    for (const auto& msg : m.messages()) statuses.push_back(msg.bytes[0]);
    EXPECT_EQ(statuses, (std::vector<uint8_t>{0xB0, 0x90, 0x80, 0xE0}));
}

TEST(MidiFileEvents, NothingAfterEndOfTrackIsRead) {
    const auto m = parse(Smf::cat(
        {Smf::header(0, 1, 480),
         Smf::track(Smf::cat({Smf::event(0, {0x90, 60, 1}), Smf::event(0, {0xFF, 0x2F, 0x00}),
                              Smf::event(0, {0x90, 61, 1})}),
                    false)}));
    EXPECT_EQ(m.messages().size(), 1u);
}

TEST(MidiFileEvents, Format1MergesTracksByTimeThenTrackOrder) {
    const Bytes conductor = Smf::cat({Smf::tempo(0, 250000), Smf::tempo(960, 500000)});
    const Bytes a = Smf::cat({Smf::event(0, {0x90, 1, 1}), Smf::event(480, {0x90, 2, 1}),
                              Smf::event(960, {0x90, 3, 1})});
    const Bytes b = Smf::cat({Smf::event(240, {0x91, 10, 1}), Smf::event(240, {0x91, 11, 1}),
                              Smf::event(960, {0x91, 12, 1})});
    const auto m = parse(Smf::cat({Smf::header(1, 3, 480), Smf::track(conductor),
                                   Smf::chunk("XFIH", {1, 2, 3}),  // unknown chunk: skipped
                                   Smf::track(a), Smf::track(b)}));
    std::vector<int> notes;
    for (const auto& msg : m.messages()) notes.push_back(msg.bytes[1]);
    // Ticks: 1@0 10@240 2@480 11@480 3@1440 12@1440; ties keep track order (a before b).
    EXPECT_EQ(notes, (std::vector<int>{1, 10, 2, 11, 3, 12}));
    EXPECT_EQ(m.trackCount(), 3);
    // The conductor track's tempo map times the other tracks: 240 ticks at 250000 us = 0.125 s;
    // 1440 ticks = 960 at 0.25 s/beat + 480 at 0.5 s/beat = 1 s.
    EXPECT_EQ(framesOf(m, 48000), (std::vector<int64_t>{0, 6000, 12000, 12000, 48000, 48000}));
}

struct Malformed {
    const char* name;
    Bytes bytes;
};
void PrintTo(const Malformed& m, std::ostream* os) { *os << m.name; }

Bytes okTrack() { return Smf::track(Smf::event(0, {0x90, 60, 1})); }

std::vector<Malformed> malformedFiles() {
    const Bytes h = Smf::header(0, 1, 480);
    auto withTrack = [&](const Bytes& events, bool end = true) {
        return Smf::cat({h, Smf::track(events, end)});
    };
    Bytes truncatedTrack = Smf::cat({h, okTrack()});
    truncatedTrack.resize(truncatedTrack.size() - 3);
    Bytes longChunk = Smf::cat({h, okTrack()});
    longChunk[h.size() + 4] = 0x7F;  // a track length of about 2 GiB
    Bytes shortHeader = Smf::chunk("MThd", {0, 0, 0, 1});
    return {
        {"Empty", {}},
        {"NotMidi", {'R', 'I', 'F', 'F', 0, 0, 0, 4, 'W', 'A', 'V', 'E'}},
        {"TrackBeforeHeader", Smf::cat({okTrack(), h})},
        {"HeaderTooShort", Smf::cat({shortHeader, okTrack()})},
        {"HeaderTruncated", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}},
        {"Format2", Smf::cat({Smf::header(2, 1, 480), okTrack()})},
        {"Format7", Smf::cat({Smf::header(7, 1, 480), okTrack()})},
        {"NoTracks", Smf::header(1, 0, 480)},
        {"Format0WithTwoTracks", Smf::cat({Smf::header(0, 2, 480), okTrack(), okTrack()})},
        {"ZeroDivision", Smf::cat({Smf::header(0, 1, 0), okTrack()})},
        {"SmpteZeroTicks", Smf::cat({Smf::header(0, 1, 0xE700), okTrack()})},
        {"SmpteBadRate", Smf::cat({Smf::header(0, 1, 0xE128), okTrack()})},
        {"FewerTracksThanDeclared", Smf::cat({Smf::header(1, 3, 480), okTrack(), okTrack()})},
        {"TruncatedTrack", truncatedTrack},
        {"AbsurdChunkLength", longChunk},
        {"TruncatedChunkHeader", Smf::cat({Smf::header(1, 2, 480), okTrack(), Bytes{'M', 'T'}})},
        {"FiveByteDelta", withTrack({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1})},
        {"DataWithoutStatus", withTrack(Smf::event(0, {60, 100}))},
        {"MessageCutByStatus",
         withTrack(Smf::cat({Smf::event(0, {0x90, 60}), Smf::event(0, {0x80, 60, 0})}))},
        {"MessageCutByChunkEnd", withTrack(Smf::event(0, {0x90, 60}), false)},
        {"DeltaCutByChunkEnd", withTrack({0x00, 0x90, 60, 1, 0x81}, false)},
        {"MetaLengthPastEnd", withTrack(Smf::event(0, {0xFF, 0x01, 0x7F, 'x'}), false)},
        {"SysexLengthPastEnd", withTrack(Smf::event(0, {0xF0, 0x8F, 0x7F, 0x00}), false)},
        {"TempoOfTwoBytes", withTrack(Smf::event(0, {0xFF, 0x51, 0x02, 0x07, 0xA1}))},
        {"TempoOfZero", withTrack(Smf::tempo(0, 0))},
        {"SystemCommonInFile", withTrack(Smf::event(0, {0xF2, 0x00, 0x00}))},
        {"RealTimeInFile", withTrack(Smf::event(0, {0xF8}))},
    };
}

class MidiFileRejects : public testing::TestWithParam<Malformed> {};

TEST_P(MidiFileRejects, WithAnErrorInsteadOfGuessing) {
    const Bytes& b = GetParam().bytes;
    try {
        MidiFile::parse(b.data(), b.size());
        FAIL() << "accepted a malformed file";
    } catch (const MidiFileError& e) {
        const std::string what = e.what();
        EXPECT_TRUE(what.find("MIDI") != std::string::npos) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(Malformed, MidiFileRejects, testing::ValuesIn(malformedFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MidiFileLoad, NamesTheFileInItsErrors) {
    testsupport::TempDir dir;
    EXPECT_THROW(MidiFile::load(dir / "missing.mid"), MidiFileError);
    testsupport::writeFile(dir / "bad.mid", {'M', 'T', 'h', 'd', 0, 0});
    try {
        MidiFile::load(dir / "bad.mid");
        FAIL();
    } catch (const MidiFileError& e) {
        EXPECT_NE(std::string(e.what()).find("bad.mid"), std::string::npos) << e.what();
    }
}

TEST(MidiFileLoad, RefusesHugeFilesWithoutReadingThem) {
    testsupport::TempDir dir;
    const std::string path = dir / "huge.mid";
    testsupport::writeFile(path, format0(480, Smf::event(0, {0x90, 60, 1})));
    std::filesystem::resize_file(path, hostkit::kMaxMidiFileBytes + 1);  // sparse: no disk used
    EXPECT_THROW(MidiFile::load(path), MidiFileError);
}

TEST(MidiFileLoad, ReadsAFileFromDisk) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "ok.mid", format0(480, Smf::event(480, {0x90, 60, 1})));
    const auto m = MidiFile::load(dir / "ok.mid");
    EXPECT_EQ(m.format(), 0);
    EXPECT_EQ(m.ticksPerQuarter(), 480);
    EXPECT_EQ(framesOf(m, 48000), (std::vector<int64_t>{24000}));
}

}  // namespace
