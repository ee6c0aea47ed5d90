// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the host side of the record against a scripted probe plug-in: the order in which a
// plug-in is driven, the answers of our host callback, MIDI delivered at the exact sample in every
// block size, the accumulating process call, and refusing libraries that are not plug-ins.
#include "hostkit/plugin.h"
#include "support/probe_log.h"
#include "hostkit/render.h"
#include "support/render_support.h"

#include <gtest/gtest.h>

#include <memory>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

using hostkit::HostError;
using hostkit::Library;
using hostkit::Plugin;
using hostkit::TimedMidiEvent;
using testsupport::probePluginPath;

namespace {

// Keeps the probe library loaded for the test and gives access to what it logged.
class ProbeTest : public testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("CORVEX_PROBE_MODE");
        probe = std::make_unique<Library>(probePluginPath());
        log = static_cast<ProbeLog*>(probe->symbol("probeLog"));
        ASSERT_NE(log, nullptr);
        std::memset(log, 0, sizeof *log);
    }
    void TearDown() override {
        ::unsetenv("CORVEX_PROBE_MODE");
        probe.reset();
    }
    static void mode(const char* m) { ::setenv("CORVEX_PROBE_MODE", m, 1); }

    // Renders `frames` frames and returns channel 0 and 1.
    static std::vector<std::vector<float>>
    renderAll(Plugin& plugin, const std::vector<TimedMidiEvent>& events, int64_t frames) {
        std::vector<std::vector<float>> out(static_cast<std::size_t>(plugin.numOutputs()));
        hostkit::render(plugin, events, frames, [&](const float* const* ch, int32_t n) {
            for (std::size_t c = 0; c < out.size(); ++c)
                out[c].insert(out[c].end(), ch[c], ch[c] + n);
        });
        return out;
    }

    std::vector<int32_t> loggedOpcodes() const {
        std::vector<int32_t> ops;
        for (int i = 0; i < log->count; ++i) {
            // Collapse runs of process calls: their number depends on the block size.
            if (!ops.empty() && ops.back() == log->entries[i] && log->entries[i] < 0 &&
                log->entries[i] != kProbeSetParameter)
                continue;
            ops.push_back(log->entries[i]);
        }
        return ops;
    }

    std::unique_ptr<Library> probe;
    ProbeLog* log = nullptr;
};

TEST_F(ProbeTest, DrivesThePluginInTheOrderADawDoes) {
    {
        Library library(probePluginPath());
        EXPECT_EQ(library.entryName(), "VSTPluginMain");
        Plugin plugin(library);
        plugin.open(44100.0, 256);
        plugin.start();
        plugin.setProgram(1);
        plugin.setParameter(1, 0.25f);
        renderAll(plugin, hostkit::noteEvents(60, 100, 300), 1000);
    }  // the destructor switches the plug-in off and closes it
    const std::vector<int32_t> expected = {effOpen,
                                           effSetSampleRate,
                                           effSetBlockSize,
                                           effMainsChanged,
                                           effStartProcess,
                                           effBeginSetProgram,
                                           effSetProgram,
                                           effEndSetProgram,
                                           kProbeSetParameter,
                                           effProcessEvents,
                                           kProbeProcessReplacing,
                                           effProcessEvents,
                                           kProbeProcessReplacing,
                                           effStopProcess,
                                           effMainsChanged,
                                           effClose};
    EXPECT_EQ(loggedOpcodes(), expected);
    EXPECT_EQ(log->sampleRate, 44100.0f);
    EXPECT_EQ(log->blockSize, 256);
    EXPECT_EQ(log->events, 2);
}

TEST_F(ProbeTest, HostCallbackAnswersWhatItServesAndZeroOtherwise) {
    Library library(probePluginPath());
    Plugin plugin(library);
    plugin.open(96000.0, 128);
    plugin.start();
    EXPECT_EQ(log->hostVersion, hostkit::kHostVstVersion);
    EXPECT_EQ(log->hostSampleRate, 96000);
    EXPECT_EQ(log->hostBlockSize, 128);
    EXPECT_EQ(log->hostTime, 0);
    EXPECT_EQ(log->hostUnknown, 0);
    EXPECT_EQ(log->hostCanSendMidi, 1);
    EXPECT_EQ(log->hostCanSizeWindow, 0);
    EXPECT_STREQ(log->hostProduct, hostkit::kHostProduct);
}

TEST_F(ProbeTest, ReadsNamesAndValuesThroughTheRecord) {
    Library library(probePluginPath());
    Plugin plugin(library);
    plugin.open(48000.0, 64);
    EXPECT_EQ(plugin.effectName(), "Probe");
    EXPECT_EQ(plugin.vendorName(), "Corvex tests");
    EXPECT_EQ(plugin.programName(2), " Two Words ");
    EXPECT_EQ(plugin.paramName(0), "Gain");
    EXPECT_EQ(plugin.paramLabel(0), "dB");
    plugin.setParameter(0, 0.5f);
    EXPECT_EQ(plugin.paramDisplay(0), "0.500");
    EXPECT_EQ(plugin.getParameter(0), 0.5f);
    plugin.setProgram(2);
    EXPECT_EQ(plugin.currentProgram(), 2);
}

class ExactOffsets : public ProbeTest, public testing::WithParamInterface<int32_t> {};

TEST_P(ExactOffsets, EveryEventLandsOnItsSampleInAnyBlockSize) {
    const std::vector<int64_t> frames = {0,   1,   6,    7,    255,  256, 511,
                                         512, 513, 1000, 4095, 4096, 9999};
    std::vector<TimedMidiEvent> events;
    for (std::size_t i = 0; i < frames.size(); ++i)
        events.push_back({frames[i], {0x90, static_cast<uint8_t>(10 + i), 100}});
    events.push_back({10000, {0x90, 127, 100}});  // at the end: not part of the render

    Library library(probePluginPath());
    Plugin plugin(library);
    plugin.open(48000.0, GetParam());
    plugin.start();
    const auto out = renderAll(plugin, events, 10000);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out[0].size(), 10000u);
    std::map<int64_t, float> marks;
    for (std::size_t s = 0; s < out[0].size(); ++s) {
        EXPECT_EQ(out[0][s], out[1][s]) << s;
        if (out[0][s] != 0.0f) marks[static_cast<int64_t>(s)] = out[0][s];
    }
    std::map<int64_t, float> expected;
    for (std::size_t i = 0; i < frames.size(); ++i)
        expected[frames[i]] = 1000.0f + static_cast<float>(10 + i);
    EXPECT_EQ(marks, expected);
    EXPECT_EQ(log->misplacedEvents, 0);
    EXPECT_EQ(log->events, static_cast<int>(frames.size()));
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, ExactOffsets, testing::Values(1, 7, 256, 512, 4096, 16384));

TEST_F(ProbeTest, DeliversEveryEventOfACrowdedBlockInOrder) {
    std::vector<TimedMidiEvent> events;
    for (int i = 0; i < 300; ++i) events.push_back({i, {0xB0, static_cast<uint8_t>(i % 120), 0}});
    Library library(probePluginPath());
    Plugin plugin(library);
    plugin.open(48000.0, 512);
    plugin.start();
    const auto out = renderAll(plugin, events, 512);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(out[0][static_cast<std::size_t>(i)], 3000.0f + static_cast<float>(i % 120)) << i;
    EXPECT_EQ(log->events, 300);
}

TEST_F(ProbeTest, AccumulatingPluginGetsClearedBuffersEveryBlock) {
    mode("accumulate");
    Library library(probePluginPath());
    Plugin plugin(library);
    EXPECT_FALSE(plugin.usesReplacing());
    plugin.open(48000.0, 100);
    plugin.start();
    plugin.setParameter(1, 0.5f);  // the probe's constant output
    const auto out = renderAll(plugin, {{150, {0x90, 1, 1}}}, 1000);
    for (std::size_t s = 0; s < out[0].size(); ++s)
        EXPECT_EQ(out[0][s], s == 150 ? 1001.5f : 0.5f) << s;
    EXPECT_EQ(std::count(log->entries, log->entries + log->count, kProbeProcessReplacing), 0);
}

struct BadPlugin {
    const char* name;
    const char* mode;     // probe mode, or null for a file that is not the probe
    const char* file;     // "probe", "noentry", "text", "missing", "folder"
    const char* message;  // part of the error
};
void PrintTo(const BadPlugin& b, std::ostream* os) { *os << b.name; }

class HostRefuses : public ProbeTest, public testing::WithParamInterface<BadPlugin> {};

TEST_P(HostRefuses, WithAClearError) {
    const BadPlugin& bad = GetParam();
    testsupport::TempDir dir;
    std::string path;
    const std::string file = bad.file;
    if (file == "probe") path = probePluginPath();
    else if (file == "noentry") path = testsupport::noEntryPluginPath();
    else if (file == "missing") path = dir / "missing.so";
    else if (file == "folder") path = dir.path().string();
    else {
        path = dir / "text.so";
        testsupport::writeText(path, "not a shared object\n");
    }
    if (bad.mode) mode(bad.mode);
    try {
        Library library(path);
        Plugin plugin(library);
        FAIL() << "accepted " << bad.name;
    } catch (const HostError& e) {
        EXPECT_NE(std::string(e.what()).find(bad.message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    NotPlugins, HostRefuses,
    testing::Values(BadPlugin{"Missing", nullptr, "missing", "not found"},
                    BadPlugin{"Folder", nullptr, "folder", "not a file"},
                    BadPlugin{"TextFile", nullptr, "text", "cannot load"},
                    BadPlugin{"NoEntry", nullptr, "noentry", "neither VSTPluginMain nor main"},
                    BadPlugin{"NullEffect", "null", "probe", "returned no effect"},
                    BadPlugin{"WrongMagic", "badmagic", "probe", "wrong magic"},
                    BadPlugin{"AbsurdChannels", "hugeio", "probe", "implausible"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginSearch, BareNamesAreFoundInTheVstPath) {
    testsupport::TempDir dir;
    std::filesystem::copy_file(probePluginPath(), dir / "myprobe.so");
    ::setenv("LXVST_PATH", ("/nonexistent:" + dir.path().string()).c_str(), 1);
    EXPECT_EQ(hostkit::resolvePluginPath("myprobe"), dir / "myprobe.so");
    EXPECT_EQ(hostkit::resolvePluginPath("myprobe.so"), dir / "myprobe.so");
    EXPECT_EQ(hostkit::resolvePluginPath("./nothere.so"), "./nothere.so");
    EXPECT_EQ(hostkit::resolvePluginPath("nothere"), "nothere");
    ::unsetenv("LXVST_PATH");
    const auto dirs = hostkit::pluginSearchPath();
    EXPECT_EQ(dirs.back(), "/usr/lib/vst");
}

}  // namespace
