// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the sound of every factory program as a host hears it through the loaded library:
// finite, bounded, silent when the release is over, and bit for bit what it was when the
// reference was recorded (tests/data/golden_renders.txt; CORVEX_UPDATE_GOLDEN=1 rewrites it).
#include "hostkit/plugin.h"
#include "support/record_calls.h"
#include "hostkit/recording_host.h"

#include "support/golden_renders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

using hostkit::RecordingHost;

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 512;
constexpr int kHeld = kRate / 2;
constexpr int kTotal = kHeld + kRate * 12 / 10;  // every release is at most one second

struct Render {
    std::vector<float> left, right;
};

void sendMidi(AEffect* e, int32_t delta, unsigned char status, unsigned char d1, unsigned char d2) {
    VstMidiEvent event{};
    event.type = kVstMidiType;
    event.byteSize = sizeof event;
    event.deltaFrames = delta;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(d1);
    event.midiData[2] = static_cast<char>(d2);
    VstEvents list{};
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<VstEvent*>(&event);
    dispatch(e, effProcessEvents, 0, 0, &list);
}

// One note of one program, rendered as a DAW would: open, rate, block size, mains on, program.
Render renderProgram(const hostkit::Library& plugin, int program, int note = 60) {
    AEffect* e = plugin.entry()(RecordingHost::callback());
    dispatch(e, effOpen);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
    dispatch(e, effSetBlockSize, 0, kBlock);
    dispatch(e, effMainsChanged, 0, 1);
    dispatch(e, effSetProgram, 0, program);
    Render r{std::vector<float>(kTotal), std::vector<float>(kTotal)};
    for (int pos = 0; pos < kTotal; pos += kBlock) {
        const int len = std::min(kBlock, kTotal - pos);
        if (pos == 0) sendMidi(e, 0, 0x90, static_cast<unsigned char>(note), 100);
        if (pos <= kHeld && kHeld < pos + len)
            sendMidi(e, kHeld - pos, 0x80, static_cast<unsigned char>(note), 0);
        float* outputs[2] = {r.left.data() + pos, r.right.data() + pos};
        e->processReplacing(e, nullptr, outputs, len);
    }
    dispatch(e, effMainsChanged, 0, 0);
    dispatch(e, effClose);
    return r;
}

class FactoryPrograms : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const hostkit::Library plugin{CORVEX_PLUGIN_PATH};
        RecordingHost host;
        host.answers[audioMasterVersion] = 2400;
        for (int p = 0; p < 64; ++p) renders()[p] = renderProgram(plugin, p);
    }
    static std::map<int, Render>& renders() {
        static std::map<int, Render> r;
        return r;
    }
};

TEST_F(FactoryPrograms, SoundWhileHeldSilenceAfterRelease) {
    for (auto& [program, r] : renders()) {
        ASSERT_EQ(r.left, r.right) << program;
        double energy = 0.0;
        float peak = 0.0f;
        for (int i = 0; i < kTotal; ++i) {
            ASSERT_TRUE(std::isfinite(r.left[i])) << program << " @" << i;
            peak = std::max(peak, std::fabs(r.left[i]));
            if (i < kHeld) energy += double{r.left[i]} * r.left[i];
        }
        EXPECT_LE(peak, 2.0f) << program;
        EXPECT_GT(std::sqrt(energy / kHeld), 1e-4) << "program " << program << " is silent";
        for (int i = kTotal - kRate / 10; i < kTotal; ++i)
            ASSERT_EQ(r.left[i], 0.0f) << program << " still sounding at " << i;
    }
}

TEST_F(FactoryPrograms, MatchTheRecordedReference) {
    if (const char* update = std::getenv("CORVEX_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream out(testsupport::kGoldenRendersPath);
        out << "# program  fingerprint of one channel: note 60 for 0.5 s, 1.2 s tail, 44100 Hz, "
               "512-frame blocks\n";
        for (auto& [program, r] : renders()) {
            char hex[32];
            std::snprintf(hex, sizeof hex, "%016llx",
                          static_cast<unsigned long long>(testsupport::fingerprint(r.left)));
            out << program << ' ' << hex << '\n';
        }
        GTEST_SKIP() << "reference rewritten";
    }
    const auto golden = testsupport::readGoldenRenders();
    ASSERT_EQ(golden.size(), 64u) << "missing " << testsupport::kGoldenRendersPath;
    for (auto& [program, r] : renders())
        EXPECT_EQ(testsupport::fingerprint(r.left), golden.at(program)) << "program " << program;
}

TEST(PluginRender, NoteOnAppearsAtItsSampleOffset) {
    const hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    RecordingHost host;
    host.answers[audioMasterVersion] = 2400;
    AEffect* e = plugin.entry()(RecordingHost::callback());
    dispatch(e, effOpen);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(e, effMainsChanged, 0, 1);
    e->setParameter(e, 8, 0.0f);  // attack 0: full level at the note's first sample
    sendMidi(e, 333, 0x90, 60, 100);
    std::vector<float> l(1024, 9.0f), r(1024, 9.0f);
    float* outputs[2] = {l.data(), r.data()};
    e->process(e, nullptr, outputs, 1024);
    for (int i = 0; i < 333; ++i) ASSERT_EQ(l[i], 0.0f) << i;
    EXPECT_NE(l[333], 0.0f);
    EXPECT_EQ(l, r);
    dispatch(e, effClose);
}

}  // namespace
