// SPDX-License-Identifier: GPL-3.0-or-later
// Guards corvex's way of playing without JACK: the audio options are taken in every form and
// nonsense is refused; a MIDI message stamped on arrival lands at its own distance from the
// previous period's start, inside the period whatever the stamps and the rate; the test seam's
// note list is read strictly; sequencer events become the right MIDI bytes and only keyboards are
// connected unasked; samples are converted to integers rounded and clipped, NaN as silence; and
// the ALSA engine plays stamped MIDI into the synth, counts an underrun and goes on, and wakes
// the main thread when its device is unplugged.
#include "core/synth.h"
#include "standalone/midi_learn.h"
#include "standalone/options.h"
#include "standalone/period.h"
#include "standalone/timed_midi.h"

#if CORVEX_HAVE_ALSA
#include "standalone/alsa_engine.h"
#include "standalone/alsa_midi.h"

#include <alsa/asoundlib.h>
#endif

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <poll.h>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace corvex_standalone;

namespace {

Options parsed(std::vector<const char*> args, bool expectOk = true) {
    args.insert(args.begin(), "corvex");
    Options options;
    std::string error;
    EXPECT_EQ(parseOptions(static_cast<int>(args.size()), args.data(), options, error), expectOk)
        << error;
    if (!expectOk) {
        EXPECT_FALSE(error.empty());
    }
    return options;
}

constexpr uint64_t kMs = 1000000;

}  // namespace

TEST(StandaloneAudioOptions, DefaultsThenEveryFormTaken) {
    const Options d = parsed({});
    EXPECT_EQ(d.audio, AudioChoice::automatic);
    EXPECT_EQ(d.device, "default");
    EXPECT_EQ(d.rate, 48000u);
    EXPECT_EQ(d.period, 256u);
    EXPECT_FALSE(d.alsaSettingsGiven);

    EXPECT_EQ(parsed({"--audio", "jack"}).audio, AudioChoice::jack);
    EXPECT_EQ(parsed({"--audio=alsa"}).audio, AudioChoice::alsa);
    EXPECT_EQ(parsed({"--audio", "alsa", "--audio", "auto"}).audio, AudioChoice::automatic);
    const Options o =
        parsed({"--device", "hw:1,0", "--rate=44100", "--period", "64", "--headless"});
    EXPECT_EQ(o.device, "hw:1,0");
    EXPECT_EQ(o.rate, 44100u);
    EXPECT_EQ(o.period, 64u);
    EXPECT_TRUE(o.headless);
    EXPECT_TRUE(o.alsaSettingsGiven);
    EXPECT_EQ(parsed({"--device=plughw:CARD=USB,DEV=0"}).device, "plughw:CARD=USB,DEV=0");
    // The ends of the ranges.
    EXPECT_EQ(parsed({"--rate", "8000", "--period", "16"}).period, 16u);
    EXPECT_EQ(parsed({"--rate", "384000", "--period", "8192"}).rate, 384000u);
    // ALSA's settings beside auto are fine (they apply when ALSA plays).
    EXPECT_EQ(parsed({"--audio", "auto", "--period", "128"}).period, 128u);
}

TEST(StandaloneAudioOptions, NonsenseIsRefused) {
    for (const std::vector<const char*>& bad : std::vector<std::vector<const char*>>{
             {"--audio"},
             {"--audio", "pulse"},
             {"--audio="},
             {"--audio", "JACK"},
             {"--device"},
             {"--device="},
             {"--rate"},
             {"--rate", "0"},
             {"--rate", "7999"},
             {"--rate", "384001"},
             {"--rate", "48k"},
             {"--rate", "44100.0"},
             {"--rate", "-48000"},
             {"--rate", "+48000"},
             {"--rate", "99999999999999999999"},
             {"--period", "15"},
             {"--period", "8193"},
             {"--period", " 256"},
             {"--period", "0x100"},
             {"--period="},
             {"--headless=yes"},
             {"--audio", "jack", "--device", "hw:0"},
             {"--rate", "48000", "--audio", "jack"},
         }) {
        std::string shown;
        for (const char* arg : bad) shown.append(arg).append(" ");
        SCOPED_TRACE(shown);
        parsed(bad, false);
    }
}

TEST(StandaloneMidiTiming, AStampLandsAtItsDistanceFromThePreviousPeriod) {
    constexpr uint64_t previous = 5'000'000'000ull;  // the previous period started at 5 s
    // 48 kHz, 256 frames: 5.333 ms a period.
    EXPECT_EQ(frameOfEvent(previous, previous, 48000, 256), 0);
    EXPECT_EQ(frameOfEvent(previous + 1 * kMs, previous, 48000, 256), 48);
    EXPECT_EQ(frameOfEvent(previous + 2 * kMs, previous, 48000, 256), 96);
    // Rounded to the nearest frame: 10.4 us is 0.4992 frames, 10.5 us 0.504.
    EXPECT_EQ(frameOfEvent(previous + 10400, previous, 48000, 256), 0);
    EXPECT_EQ(frameOfEvent(previous + 10500, previous, 48000, 256), 1);
    // The last frame, and exactly a period on (now, when this period starts): kept inside it.
    EXPECT_EQ(frameOfEvent(previous + 5'312'500, previous, 48000, 256), 255);
    EXPECT_EQ(frameOfEvent(previous + 5'333'334, previous, 48000, 256), 255);
    // Stamped after now (arrived while this period was being prepared), or long after.
    EXPECT_EQ(frameOfEvent(previous + 7 * kMs, previous, 48000, 256), 255);
    EXPECT_EQ(frameOfEvent(std::numeric_limits<uint64_t>::max(), previous, 48000, 256), 255);
    EXPECT_EQ(frameOfEvent(std::numeric_limits<uint64_t>::max(), 0, 384000, 8192), 8191);
    // Before the previous period (a stall, the first period): the first frame.
    EXPECT_EQ(frameOfEvent(previous - 1, previous, 48000, 256), 0);
    EXPECT_EQ(frameOfEvent(0, previous, 48000, 256), 0);
    EXPECT_EQ(frameOfEvent(0, std::numeric_limits<uint64_t>::max(), 48000, 256), 0);
}

TEST(StandaloneMidiTiming, SpacingFollowsTheRateAndDegenerateCasesStayInside) {
    constexpr uint64_t previous = 123'456'789ull;
    // The same 2 ms at three rates (a device that changed its rate).
    EXPECT_EQ(frameOfEvent(previous + 2 * kMs, previous, 44100, 512), 88);
    EXPECT_EQ(frameOfEvent(previous + 2 * kMs, previous, 48000, 512), 96);
    EXPECT_EQ(frameOfEvent(previous + 2 * kMs, previous, 96000, 512), 192);
    // Two messages 1 ms apart stay 48 frames apart wherever they fall in the period.
    for (uint64_t at = 0; at < 4 * kMs; at += 137'000) {
        const int32_t a = frameOfEvent(previous + at, previous, 48000, 256);
        const int32_t b = frameOfEvent(previous + at + kMs, previous, 48000, 256);
        EXPECT_EQ(b - a, 48) << at;
    }
    // No rate, or a period of one frame or none: the first frame.
    EXPECT_EQ(frameOfEvent(previous + kMs, previous, 0, 256), 0);
    EXPECT_EQ(frameOfEvent(previous + kMs, previous, 48000, 1), 0);
    EXPECT_EQ(frameOfEvent(previous + kMs, previous, 48000, 0), 0);
    EXPECT_EQ(frameOfEvent(previous + kMs, previous, 48000, -5), 0);
    // The largest rate with a long gap does not overflow into a small frame.
    EXPECT_EQ(frameOfEvent(previous + 3'000'000'000ull, previous, 0xFFFFFFFFu, 1024), 1023);
}

TEST(StandaloneTestNotes, ListsAreReadSortedAndMistakesRefused) {
    std::vector<ScheduledMidi> out;
    std::string error;
    ASSERT_TRUE(
        parseScheduledMidi("300:0x80:60:0,100:144:60:100,100:0xC3:5:0,0:0xE0:0:64", out, error))
        << error;
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].frame, 0u);
    EXPECT_EQ(out[0].bytes[0], 0xE0);
    EXPECT_EQ(out[0].size, 3);
    // Equal frames keep their order.
    EXPECT_EQ(out[1].frame, 100u);
    EXPECT_EQ(out[1].bytes[0], 0x90);
    EXPECT_EQ(out[1].bytes[2], 100);
    EXPECT_EQ(out[2].bytes[0], 0xC3);
    EXPECT_EQ(out[2].size, 2);
    EXPECT_EQ(out[3].frame, 300u);
    EXPECT_TRUE(parseScheduledMidi("", out, error));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(parseScheduledMidi("0xFFFFFFFFFF:0xD0:1:0", out, error));
    EXPECT_EQ(out.at(0).size, 2);

    for (const char* bad :
         {"1:0x90:60", "1:0x90:60:1:2", "1:0x7F:60:1", "1:0xF0:0:0", "1:0x90:128:1",
          "1:0x90:60:200", "1:0x90:60:1,", ",1:0x90:60:1", "a:0x90:60:1", "1:0x:60:1",
          "-1:0x90:60:1", "1::60:1", "1:0x90:60:1 ", "99999999999999:0x90:1:1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseScheduledMidi(bad, out, error));
        EXPECT_FALSE(error.empty());
    }
    std::string many;
    for (std::size_t i = 0; i <= kMaxScheduledMidi; ++i)
        many.append(i ? "," : "").append("1:0x90:1:1");
    EXPECT_FALSE(parseScheduledMidi(many, out, error));
}

#if CORVEX_HAVE_ALSA

namespace {

snd_seq_event_t event(snd_seq_event_type_t type) {
    snd_seq_event_t e{};
    e.type = type;
    return e;
}

std::vector<int> decoded(const snd_seq_event_t& e) {
    uint8_t bytes[3] = {0xEE, 0xEE, 0xEE};
    const int n = decodeSequencerEvent(e, bytes);
    return std::vector<int>(bytes, bytes + n);
}

}  // namespace

TEST(StandaloneSequencer, ChannelEventsBecomeTheirMidiBytes) {
    snd_seq_event_t on = event(SND_SEQ_EVENT_NOTEON);
    on.data.note = {3, 60, 100, 0, 0};
    EXPECT_EQ(decoded(on), (std::vector<int>{0x93, 60, 100}));
    on.data.note = {0x1F, 0xFF, 0x80, 0, 0};  // out-of-range fields are masked
    EXPECT_EQ(decoded(on), (std::vector<int>{0x9F, 0x7F, 0}));
    snd_seq_event_t off = event(SND_SEQ_EVENT_NOTEOFF);
    off.data.note = {15, 61, 0, 0, 0};
    EXPECT_EQ(decoded(off), (std::vector<int>{0x8F, 61, 0}));
    snd_seq_event_t after = event(SND_SEQ_EVENT_KEYPRESS);
    after.data.note = {1, 62, 33, 0, 0};
    EXPECT_EQ(decoded(after), (std::vector<int>{0xA1, 62, 33}));

    snd_seq_event_t cc = event(SND_SEQ_EVENT_CONTROLLER);
    cc.data.control.channel = 2;
    cc.data.control.param = 7;
    cc.data.control.value = 200;  // clamped
    EXPECT_EQ(decoded(cc), (std::vector<int>{0xB2, 7, 127}));
    cc.data.control.param = 300;  // not a 7-bit controller
    EXPECT_TRUE(decoded(cc).empty());
    snd_seq_event_t program = event(SND_SEQ_EVENT_PGMCHANGE);
    program.data.control.channel = 9;
    program.data.control.value = 12;
    EXPECT_EQ(decoded(program), (std::vector<int>{0xC9, 12}));
    snd_seq_event_t pressure = event(SND_SEQ_EVENT_CHANPRESS);
    pressure.data.control.value = -4;
    EXPECT_EQ(decoded(pressure), (std::vector<int>{0xD0, 0}));

    // The wheel: the sequencer's -8192..8191 is MIDI's 0..16383, centre 8192 (0x00 0x40).
    snd_seq_event_t bend = event(SND_SEQ_EVENT_PITCHBEND);
    bend.data.control.channel = 4;
    for (const auto& [value, lsb, msb] :
         std::vector<std::tuple<int, int, int>>{{0, 0x00, 0x40},
                                                {-8192, 0x00, 0x00},
                                                {8191, 0x7F, 0x7F},
                                                {1, 0x01, 0x40},
                                                {-20000, 0x00, 0x00},
                                                {20000, 0x7F, 0x7F}}) {
        bend.data.control.value = value;
        EXPECT_EQ(decoded(bend), (std::vector<int>{0xE4, lsb, msb})) << value;
    }

    for (snd_seq_event_type_t other :
         {SND_SEQ_EVENT_SYSEX, SND_SEQ_EVENT_CLOCK, SND_SEQ_EVENT_START, SND_SEQ_EVENT_PORT_START,
          SND_SEQ_EVENT_CONTROL14, SND_SEQ_EVENT_NONREGPARAM, SND_SEQ_EVENT_SENSING}) {
        EXPECT_TRUE(decoded(event(other)).empty()) << static_cast<int>(other);
    }
}

TEST(StandaloneSequencer, OnlyOtherClientsKeyboardOutputsAreConnected) {
    const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const unsigned hardware = SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_MIDI_GENERIC;
    EXPECT_TRUE(isKeyboardPort(24, 128, readable, hardware));
    EXPECT_TRUE(isKeyboardPort(24, 128, readable | SND_SEQ_PORT_CAP_WRITE,
                               SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION));
    EXPECT_TRUE(isKeyboardPort(20, 128, readable, SND_SEQ_PORT_TYPE_HARDWARE));
    // The system's ports, our own, and ports that cannot be read or subscribed or exported.
    EXPECT_FALSE(isKeyboardPort(SND_SEQ_CLIENT_SYSTEM, 128, readable, hardware));
    EXPECT_FALSE(isKeyboardPort(128, 128, readable, hardware));
    EXPECT_FALSE(isKeyboardPort(24, 128, SND_SEQ_PORT_CAP_READ, hardware));
    EXPECT_FALSE(isKeyboardPort(24, 128, SND_SEQ_PORT_CAP_SUBS_READ, hardware));
    EXPECT_FALSE(
        isKeyboardPort(24, 128, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, hardware));
    EXPECT_FALSE(isKeyboardPort(24, 128, readable | SND_SEQ_PORT_CAP_NO_EXPORT, hardware));
    // A synthesizer or a program that is no MIDI device (a timer, a sample player).
    EXPECT_FALSE(isKeyboardPort(130, 128, readable, SND_SEQ_PORT_TYPE_APPLICATION));
    EXPECT_FALSE(isKeyboardPort(130, 128, readable, SND_SEQ_PORT_TYPE_SYNTH));
}

TEST(StandaloneSamples, IntegersAreRoundedAndClippedAndNaNIsSilence) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> left = {0.0f,     0.5f, -0.5f, 1.0f, -1.0f,           2.0f,
                                     -3.0f,    nan,  inf,   -inf, 1.0f / 65536.0f, -1.0f / 65536.0f,
                                     0.999999f};
    std::vector<float> right(left.rbegin(), left.rend());
    const std::size_t n = left.size();
    const auto frames = static_cast<int32_t>(n);

    // Float: the very bits (NaN and infinities too).
    std::vector<float> f(2 * n);
    interleave(left.data(), right.data(), frames, SampleFormat::float32, f.data());
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(std::bit_cast<uint32_t>(f[2 * i]), std::bit_cast<uint32_t>(left[i])) << i;
        EXPECT_EQ(std::bit_cast<uint32_t>(f[2 * i + 1]), std::bit_cast<uint32_t>(right[i])) << i;
    }

    std::vector<int16_t> s16(2 * n);
    interleave(left.data(), right.data(), frames, SampleFormat::s16, s16.data());
    const std::vector<int16_t> want16 = {0, 16384, -16384, 32767, -32768, 32767, -32768,
                                         0, 32767, -32768, 1,     -1,     32767};
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(s16[2 * i], want16[i]) << i;
        EXPECT_EQ(s16[2 * i + 1], want16[n - 1 - i]) << i;
    }
    // Half a step rounds away from zero.
    const float halves[] = {1.5f / 32768.0f, -1.5f / 32768.0f, 0.4f / 32768.0f};
    int16_t rounded[6] = {};
    interleave(halves, halves, 3, SampleFormat::s16, rounded);
    EXPECT_EQ(rounded[0], 2);
    EXPECT_EQ(rounded[2], -2);
    EXPECT_EQ(rounded[4], 0);

    std::vector<int32_t> s32(2 * n);
    interleave(left.data(), right.data(), frames, SampleFormat::s32, s32.data());
    const std::vector<int32_t> want32 = {
        0, 1073741824, -1073741824,     2147483647, -2147483647 - 1, 2147483647, -2147483647 - 1,
        0, 2147483647, -2147483647 - 1, 32768,      -32768,          2147481472};
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(s32[2 * i], want32[i]) << i;
        EXPECT_EQ(s32[2 * i + 1], want32[n - 1 - i]) << i;
    }
    // Nothing written past the period.
    std::vector<int16_t> guarded(8, 0x5555);
    interleave(left.data(), right.data(), 3, SampleFormat::s16, guarded.data());
    EXPECT_EQ(guarded[6], 0x5555);
    EXPECT_EQ(guarded[7], 0x5555);
}

// The engine on the tests' paced device (tests/support/alsa_paced_pcm.cpp), through an ALSA
// configuration of the test's own.
class StandaloneAlsaEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/corvex-alsa-engine-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        const std::string config = folder + "/asound.conf";
        std::ofstream(config) << "</usr/share/alsa/alsa.conf>\n"
                              << "pcm_type.corvex_paced { lib \"" CORVEX_ALSA_PACED_PCM "\" }\n"
                              << "pcm.paced { type corvex_paced }\n"
                              << "pcm.late { type corvex_paced xrun_at 9600 }\n"
                              << "pcm.gone { type corvex_paced gone_after 9600 }\n";
        setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    }
    static void TearDownTestSuite() {
        std::remove((folder + "/asound.conf").c_str());
        rmdir(folder.c_str());
    }
    void SetUp() override {
        synth.setSampleRate(48000.0f);
        synth.reset();
    }
    // Waits (up to ten seconds: a busy machine is slow, never wrong) until done says so.
    template <typename F> static bool eventually(F done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    AlsaEngine::OpenResult open(const char* device, uint32_t periodFrames = 256) {
        AlsaEngine::Request request;
        request.device = device;
        request.period = periodFrames;
        error.clear();
        return engine.open(request, error);
    }

    static inline std::string folder;
    CorvexSynth synth;
    MidiLearn learn;
    PeriodProcessor period{synth, learn};
    AlsaEngine engine{synth, period};
    std::string error;
};

TEST_F(StandaloneAlsaEngine, AMissingDeviceIsNamedAndNothingRuns) {
    EXPECT_EQ(open("nosuch"), AlsaEngine::OpenResult::noDevice);
    EXPECT_NE(error.find("'nosuch'"), std::string::npos) << error;
    EXPECT_FALSE(engine.activate(error));
    engine.close();
    EXPECT_FALSE(engine.deviceGone());
}

TEST_F(StandaloneAlsaEngine, StampedMidiReachesTheSynthWhileItPlays) {
    ASSERT_EQ(open("paced", 128), AlsaEngine::OpenResult::ok) << error;
    EXPECT_EQ(engine.sampleRate(), 48000u);
    EXPECT_EQ(engine.bufferSize(), 128u);
    EXPECT_EQ(engine.bufferPeriods(), 2u);
    EXPECT_EQ(engine.format(), SampleFormat::float32);
    TimedMidiRing ring;
    engine.setMidiInput(&ring);
    engine.setScheduledMidi({{10, {0x90, 64, 100}, 3}});
    ASSERT_TRUE(engine.activate(error)) << error;
    ASSERT_TRUE(eventually([&] { return engine.periods() >= 4; }));
    EXPECT_TRUE(eventually([&] { return engine.midiEvents() == 1; }));  // the scheduled one
    for (const TimedMidi& m :
         {TimedMidi{monotonicNs(), {0x90, 60, 100}, 3},
          TimedMidi{monotonicNs() + kMs, {0xE0, 0, 0x50}, 3},
          TimedMidi{monotonicNs(), {0xC0, 3, 0}, 2}, TimedMidi{0, {0x80, 60, 0}, 3}})
        ASSERT_TRUE(ring.push(m));
    EXPECT_TRUE(eventually([&] { return engine.midiEvents() == 5; })) << engine.midiEvents();
    int32_t program = -1;
    EXPECT_TRUE(eventually([&] { return engine.takeProgramChange(program); }));
    EXPECT_EQ(program, 3);
    const uint64_t before = engine.periods();
    EXPECT_TRUE(eventually([&] { return engine.periods() > before + 2; }));
    engine.close();
    EXPECT_FALSE(engine.deviceGone());
    const uint64_t after = engine.periods();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(engine.periods(), after) << "the audio thread ended with close";
}

TEST_F(StandaloneAlsaEngine, AnUnderrunIsCountedAndPlayingGoesOn) {
    ASSERT_EQ(open("late"), AlsaEngine::OpenResult::ok) << error;
    ASSERT_TRUE(engine.activate(error)) << error;
    ASSERT_TRUE(eventually([&] { return engine.underruns() >= 1; }));
    const uint64_t at = engine.periods();
    EXPECT_TRUE(eventually([&] { return engine.periods() > at + 10; }));
    EXPECT_FALSE(engine.deviceGone());
    engine.close();
}

TEST_F(StandaloneAlsaEngine, AnUnpluggedDeviceWakesTheMainThreadAndEndsTheLoop) {
    ASSERT_EQ(open("gone"), AlsaEngine::OpenResult::ok) << error;
    ASSERT_TRUE(engine.activate(error)) << error;
    pollfd fd{engine.shutdownFd(), POLLIN, 0};
    ASSERT_EQ(poll(&fd, 1, 10000), 1) << "no word of the unplugging";
    EXPECT_TRUE(engine.deviceGone());
    EXPECT_EQ(engine.shutdownReason(), "gone: No such device");
    const uint64_t at = engine.periods();
    EXPECT_GE(at * 256, 9600u - 512u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(engine.periods(), at);
    engine.close();
}

#endif
