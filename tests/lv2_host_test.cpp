// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the LV2 face against sounding different from the VST2 face and against bad input: a
// host on lilv loads the built bundle, applies each of the 64 presets as a host's preset menu
// does, plays a note with a release at blocks of 1, 64 and 4096 frames and at 44.1, 48 and 96 kHz,
// and every sample equals the VST2 face's (the built corvex.so) for the same program and notes;
// dense scores sound the same through LV2, VST2 and the core at every block size, whatever unit
// the host leaves in the sequence.
// Then it throws what a careless or hostile host might at it: non-finite and out-of-range
// controls, 10,000 events in a block, events outside the block, garbage atoms, ports left
// unconnected and runs of changing length; nothing crashes and every sample stays finite.
#include "core/params.h"
#include "hostkit/host_answers.h"
#include "hostkit/plugin.h"
#include "lv2/bundle.h"
#include "support/record_calls.h"
#include "support/score.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace corvex_lv2;

// ---- The host's side: URIDs, features, the bundle -------------------------------------------

class UridMap {
public:
    LV2_URID map(const char* uri) {
        auto [it, added] = ids.try_emplace(uri, static_cast<LV2_URID>(ids.size() + 1));
        return it->second;
    }
    static LV2_URID callback(LV2_URID_Map_Handle handle, const char* uri) {
        return static_cast<UridMap*>(handle)->map(uri);
    }
    LV2_URID_Map feature{this, callback};

private:
    std::map<std::string, LV2_URID> ids;
};

// An atom sequence as a host builds one, with room for garbage of the test's own making.
class Sequence {
public:
    explicit Sequence(size_t capacity) : words((capacity + 7) / 8 + 2) {}
    void clear(LV2_URID sequenceType) {
        std::fill(words.begin(), words.end(), 0);
        header()->atom.type = sequenceType;
        header()->atom.size = sizeof(LV2_Atom_Sequence_Body);
    }
    // An event of type `type` at `frame` holding `bytes`.
    void add(int64_t frame, LV2_URID type, const std::vector<uint8_t>& bytes) {
        const size_t at = sizeof(LV2_Atom) + header()->atom.size;
        const size_t need = sizeof(LV2_Atom_Event) + bytes.size();
        ASSERT_LE(at + need, words.size() * 8);
        auto* event = reinterpret_cast<LV2_Atom_Event*>(raw() + at);
        event->time.frames = frame;
        event->body.type = type;
        event->body.size = static_cast<uint32_t>(bytes.size());
        if (!bytes.empty()) std::memcpy(event + 1, bytes.data(), bytes.size());
        header()->atom.size += static_cast<uint32_t>((need + 7) & ~size_t{7});
    }
    LV2_Atom_Sequence* header() { return reinterpret_cast<LV2_Atom_Sequence*>(words.data()); }
    uint8_t* raw() { return reinterpret_cast<uint8_t*>(words.data()); }
    size_t bytes() const { return words.size() * 8; }

private:
    std::vector<uint64_t> words;
};

struct Bundle {
    Bundle() {
        world = lilv_world_new();
        LilvNode* dir = lilv_new_file_uri(world, nullptr, CORVEX_LV2_BUNDLE "/");
        lilv_world_load_bundle(world, dir);
        lilv_node_free(dir);
        LilvNode* uri = lilv_new_uri(world, kPluginUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    ~Bundle() { lilv_world_free(world); }
    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
};

// One instance with every port connected to buffers of its own.
class Lv2Instance {
public:
    Lv2Instance(Bundle& bundle, double rate, int32_t maxBlock)
        : bundle(bundle), events(std::max<int32_t>(maxBlock, 1) * 16 * 8 + 1024),
          left(static_cast<size_t>(maxBlock)), right(static_cast<size_t>(maxBlock)) {
        blockLength = maxBlock;
        options[0] = {LV2_OPTIONS_INSTANCE,
                      0,
                      urids.map(LV2_BUF_SIZE__maxBlockLength),
                      sizeof(int32_t),
                      urids.map(LV2_ATOM__Int),
                      &blockLength};
        options[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        instance = lilv_plugin_instantiate(bundle.plugin, rate, features);
        if (!instance) return;
        for (uint32_t i = 0; i < kNumParams; ++i) {
            controls[i] = defaultValue(static_cast<int32_t>(i));
            lilv_instance_connect_port(instance, i, &controls[i]);
        }
        lilv_instance_connect_port(instance, kMidiInPort, events.header());
        lilv_instance_connect_port(instance, kLeftOutPort, left.data());
        lilv_instance_connect_port(instance, kRightOutPort, right.data());
        lilv_instance_activate(instance);
        clearEvents();
    }
    ~Lv2Instance() {
        if (!instance) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }

    // Applies program's preset as a host's preset menu does: loads the preset's description and
    // sets each port it names. Returns the preset's label.
    std::string applyPreset(int32_t program) {
        const std::string uri = kPresetUriPrefix + std::to_string(program);
        LilvNode* node = lilv_new_uri(bundle.world, uri.c_str());
        lilv_world_load_resource(bundle.world, node);
        LilvState* state = lilv_state_new_from_world(bundle.world, &urids.feature, node);
        lilv_node_free(node);
        if (!state) return "(no preset " + uri + ")";
        floatType = urids.map(LV2_ATOM__Float);
        lilv_state_restore(state, instance, setPortValue, this, 0, features);
        const char* label = lilv_state_get_label(state);
        std::string name = label ? label : "";
        lilv_state_free(state);
        return name;
    }
    void clearEvents() { events.clear(urids.map(LV2_ATOM__Sequence)); }
    void midi(int64_t frame, std::vector<uint8_t> bytes) {
        events.add(frame, urids.map(LV2_MIDI__MidiEvent), bytes);
    }
    void run(uint32_t frames) {
        lilv_instance_run(instance, frames);
        clearEvents();
    }

    Bundle& bundle;
    UridMap urids;
    LilvInstance* instance = nullptr;
    float controls[kNumParams] = {};
    Sequence events;
    std::vector<float> left, right;
    int32_t setCount = 0;

private:
    static void setPortValue(const char* symbol, void* self, const void* value, uint32_t size,
                             uint32_t type) {
        auto* host = static_cast<Lv2Instance*>(self);
        if (type != host->floatType || size != sizeof(float)) return;
        for (int32_t i = 0; i < kNumParams; ++i)
            if (std::strcmp(symbol, kParamInfo[i].symbol) == 0) {
                std::memcpy(&host->controls[i], value, sizeof(float));
                ++host->setCount;
            }
    }

    int32_t blockLength = 0;
    LV2_URID floatType = 0;
    LV2_Options_Option options[2] = {};
    LV2_Feature mapFeature{LV2_URID__map, &urids.feature};
    LV2_Feature optionsFeature{LV2_OPTIONS__options, options};
    const LV2_Feature* features[3] = {&mapFeature, &optionsFeature, nullptr};
};

// ---- The score both faces play ---------------------------------------------------------------

using Message = ScoreMessage;
// A note starting a few frames in, a bend, the release, the tail.
std::vector<Message> score(int rate) {
    return {{3, 0x90, 60, 100}, {rate / 8, 0xE0, 0x00, 0x50}, {rate / 4 + 17, 0x80, 60, 0}};
}
int totalFrames(int rate) { return rate / 2; }

std::vector<float> throughLv2(Bundle& bundle, int program, int rate, int block) {
    Lv2Instance host(bundle, rate, block);
    if (!host.instance) return {};
    EXPECT_EQ(host.applyPreset(program), factoryProgram(program).name);
    EXPECT_EQ(host.setCount, kNumParams) << "the preset sets every control";
    const int total = totalFrames(rate);
    std::vector<float> out(static_cast<size_t>(total));
    for (int pos = 0; pos < total;) {
        const int len = std::min(block, total - pos);
        for (const Message& m : score(rate))
            if (m.at >= pos && m.at < pos + len)
                host.midi(m.at - pos, {m.status, m.data1, m.data2});
        host.run(static_cast<uint32_t>(len));
        EXPECT_EQ(std::memcmp(host.left.data(), host.right.data(), len * sizeof(float)), 0);
        std::copy_n(host.left.data(), len, out.data() + pos);
        pos += len;
    }
    return out;
}

std::vector<float> throughVst2(const hostkit::Library& plugin, int program, int rate, int block) {
    return playProgramScore(plugin, program, static_cast<float>(rate), block, score(rate),
                            totalFrames(rate), [block](int) { return block; });
}

bool allFinite(const std::vector<float>& samples, size_t count) {
    for (size_t i = 0; i < count && i < samples.size(); ++i)
        if (!std::isfinite(samples[i])) return false;
    return true;
}

float peak(const std::vector<float>& samples, size_t count) {
    float p = 0.0f;
    for (size_t i = 0; i < count && i < samples.size(); ++i) p = std::max(p, std::abs(samples[i]));
    return p;
}

class Lv2Host : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(bundle.plugin, nullptr) << "no Corvex in the bundle"; }
    Bundle bundle;
};

}  // namespace

// ---- Same sound as the VST2 face -------------------------------------------------------------

TEST_F(Lv2Host, EveryPresetSoundsBitForBitAsTheVst2FaceAtEveryBlockSizeAndRate) {
    hostkit::Library vst2{CORVEX_PLUGIN_PATH};
    ASSERT_NE(vst2.entry(), nullptr);
    for (int rate : {44100, 48000, 96000})
        for (int block : {1, 64, 4096})
            for (int program = 0; program < kNumPrograms; ++program) {
                SCOPED_TRACE("rate " + std::to_string(rate) + ", block " + std::to_string(block) +
                             ", program " + std::to_string(program));
                const std::vector<float> lv2 = throughLv2(bundle, program, rate, block);
                const std::vector<float> vst = throughVst2(vst2, program, rate, block);
                ASSERT_EQ(lv2.size(), vst.size());
                ASSERT_EQ(std::memcmp(lv2.data(), vst.data(), lv2.size() * sizeof(float)), 0);
                EXPECT_GT(peak(lv2, lv2.size()), 0.0f) << "a silent render compares nothing";
            }
}

// ---- Every event at its frame -----------------------------------------------------------------

namespace {

constexpr int kDenseTotal = 12000;

// The score through LV2 in runs of `block` frames, each run's events in its sequence, whose unit
// field holds `unit`.
std::vector<float> denseThroughLv2(Bundle& bundle, int program,
                                   const std::vector<ScoreMessage>& score, int block,
                                   uint32_t unit = 0) {
    Lv2Instance host(bundle, 48000, block);
    if (!host.instance) return {};
    host.applyPreset(program);
    std::vector<float> out(static_cast<size_t>(kDenseTotal));
    size_t next = 0;
    for (int pos = 0; pos < kDenseTotal;) {
        const int len = std::min(block, kDenseTotal - pos);
        for (; next < score.size() && score[next].at < pos + len; ++next)
            host.midi(score[next].at - pos,
                      {score[next].status, score[next].data1, score[next].data2});
        host.events.header()->body.unit = unit;
        host.run(static_cast<uint32_t>(len));
        std::copy_n(host.left.data(), len, out.data() + pos);
        pos += len;
    }
    return out;
}

std::vector<float> denseThroughCore(int program, const std::vector<ScoreMessage>& score) {
    CorvexSynth synth;
    synth.setSampleRate(48000.0f);
    synth.reset();
    synth.setProgram(program);
    return testsupport::renderScore(synth, score, kDenseTotal, [](int) { return 1; });
}

}  // namespace

TEST_F(Lv2Host, DenseScoresSoundAsTheCoreAndTheVst2FaceAtEveryBlockSize) {
    hostkit::Library vst2{CORVEX_PLUGIN_PATH};
    ASSERT_NE(vst2.entry(), nullptr);
    for (int program : {0, 7, 19, 26, 40, 52}) {
        const auto score =
            testsupport::randomScore(700 + static_cast<uint32_t>(program), kDenseTotal);
        const std::vector<float> core = denseThroughCore(program, score);
        for (int block : {1, 7, 64, 1000, 4096}) {
            SCOPED_TRACE("program " + std::to_string(program) + ", block " + std::to_string(block));
            const std::vector<float> lv2 = denseThroughLv2(bundle, program, score, block);
            ASSERT_EQ(lv2.size(), core.size());
            ASSERT_EQ(std::memcmp(lv2.data(), core.data(), core.size() * sizeof(float)), 0);
            const auto vst = playProgramScore(vst2, program, 48000.0f, 0, score, kDenseTotal,
                                              [block](int) { return block; });
            ASSERT_EQ(vst.size(), core.size());
            ASSERT_EQ(std::memcmp(vst.data(), core.data(), core.size() * sizeof(float)), 0);
        }
    }
}

// Ardour 7 leaves the sequence's unit unset (neither 0 nor the frame unit's URID): its times are
// frames all the same. Only a unit of beats is not read as frames.
TEST_F(Lv2Host, EventTimesAreFramesWhateverUnitTheHostLeaves) {
    const std::vector<ScoreMessage> score = {
        {100, 0x90, 60, 100}, {1500, 0x90, 67, 100}, {2900, 0x80, 67, 0}};
    const std::vector<float> core = denseThroughCore(0, score);
    UridMap someHost;
    const uint32_t frames = someHost.map(LV2_ATOM__frameTime);
    for (uint32_t unit : {0u, frames, 0xDEADBEEFu, 77u}) {
        SCOPED_TRACE(unit);
        const std::vector<float> lv2 = denseThroughLv2(bundle, 0, score, 1024, unit);
        ASSERT_EQ(std::memcmp(lv2.data(), core.data(), core.size() * sizeof(float)), 0);
    }
    Lv2Instance host(bundle, 48000, 1024);
    const uint32_t beats = host.urids.map(LV2_ATOM__beatTime);
    host.applyPreset(0);
    host.midi(700, {0x90, 60, 100});
    host.events.header()->body.unit = beats;
    host.run(1024);
    EXPECT_NE(host.left[1], 0.0f) << "beats: at the run's start";
}

// ---- Bad input -------------------------------------------------------------------------------

TEST_F(Lv2Host, NonFiniteAndOutOfRangeControlsPlayFinite) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const float bad[] = {
        std::numeric_limits<float>::quiet_NaN(), kInf, -kInf, 1e30f, -1e30f, -0.0f, 2.0f, -1.0f,
        std::numeric_limits<float>::denorm_min()};
    for (float value : bad) {
        SCOPED_TRACE(value);
        Lv2Instance host(bundle, 48000, 256);
        ASSERT_NE(host.instance, nullptr);
        for (float& c : host.controls) c = value;
        host.midi(0, {0x90, 60, 100});
        for (int i = 0; i < 40; ++i) {
            if (i == 20) host.midi(5, {0x80, 60, 0});
            host.run(256);
            ASSERT_TRUE(allFinite(host.left, 256)) << "block " << i;
        }
    }
}

TEST_F(Lv2Host, TenThousandEventsInOneBlockAndEventsOutsideItPlayFinite) {
    Lv2Instance host(bundle, 48000, 4096);
    ASSERT_NE(host.instance, nullptr);
    std::mt19937 random(7);
    for (int i = 0; i < 10000; ++i) {
        const uint8_t status = (i % 3 == 0) ? 0x80 : (i % 3 == 1) ? 0x90 : 0xE0;
        host.midi(random() % 4096, {status, static_cast<uint8_t>(random() % 128),
                                    static_cast<uint8_t>(random() % 128)});
    }
    host.run(4096);
    ASSERT_TRUE(allFinite(host.left, 4096));
    host.run(4096);
    ASSERT_TRUE(allFinite(host.left, 4096));

    // Before the block, far beyond it, at its very end: taken inside the block, never carried
    // into a later run of another length.
    for (int64_t frame : {int64_t{-5}, int64_t{1000000000}, std::numeric_limits<int64_t>::max(),
                          std::numeric_limits<int64_t>::min(), int64_t{63}}) {
        SCOPED_TRACE(frame);
        Lv2Instance beyond(bundle, 48000, 64);
        beyond.midi(frame, {0x90, 60, 100});
        beyond.run(64);
        ASSERT_TRUE(allFinite(beyond.left, 64));
        beyond.run(64);
        EXPECT_GT(peak(beyond.left, 64), 0.0f) << "the note plays from this run on";
    }
}

TEST_F(Lv2Host, GarbageAtomsAreSkippedWithoutReadingPastTheSequence) {
    Lv2Instance host(bundle, 48000, 512);
    ASSERT_NE(host.instance, nullptr);
    const LV2_URID midiType = host.urids.map(LV2_MIDI__MidiEvent);
    const LV2_URID other = host.urids.map(LV2_ATOM__Float);
    // Each alone, then a note that must still be heard after them.
    host.midi(0, {});                                    // empty MIDI event
    host.midi(1, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});  // system exclusive
    host.midi(2, {0xF8});                                // clock
    host.midi(3, {0x3C, 0x40});                          // data bytes, no status
    host.midi(4, {0x90, 60});                            // a note-on missing its velocity
    host.events.add(5, other, {0x90, 60, 100});          // not MIDI at all
    host.midi(6, {0xC0, 5});                             // program change: ignored by the core
    host.midi(7, {0x90, 64, 90});
    host.run(512);
    host.run(512);
    EXPECT_GT(peak(host.left, 512), 0.0f) << "the good note after the bad ones plays";

    // An event claiming more than the sequence holds: reading stops there.
    host.midi(0, {0x80, 64, 0});
    auto* first = reinterpret_cast<LV2_Atom_Event*>(host.events.header() + 1);
    first->body.size = 0xFFFFFFF0u;
    host.run(512);
    ASSERT_TRUE(allFinite(host.left, 512));

    // A sequence smaller than its own header, and one of another type.
    host.events.header()->atom.size = 3;
    host.run(512);
    host.events.header()->atom.type = other;
    host.events.header()->atom.size = sizeof(LV2_Atom_Sequence_Body);
    host.run(512);

    // Random bytes inside a consistently sized sequence, many times.
    std::mt19937 random(11);
    for (int round = 0; round < 2000; ++round) {
        host.clearEvents();
        const uint32_t size = random() % 4096;
        uint8_t* body = host.events.raw() + sizeof(LV2_Atom);
        for (uint32_t i = sizeof(LV2_Atom_Sequence_Body); i < size; ++i)
            body[i] = static_cast<uint8_t>(random());
        // Now and then a plausible event type, so the MIDI path sees garbage too.
        if (size >= 32 && random() % 2) {
            auto* event = reinterpret_cast<LV2_Atom_Event*>(body + sizeof(LV2_Atom_Sequence_Body));
            event->body.type = midiType;
            event->body.size %= 64;
        }
        host.events.header()->atom.size = std::max<uint32_t>(size, 8);
        host.run(1 + random() % 512);
        ASSERT_TRUE(allFinite(host.left, 512)) << "round " << round;
    }
}

TEST_F(Lv2Host, UnconnectedPortsAndRunsOfChangingLengthAreSafe) {
    Lv2Instance host(bundle, 44100, 4096);
    ASSERT_NE(host.instance, nullptr);
    host.midi(0, {0x90, 60, 100});
    host.run(100);
    // Nothing connected at all: the voice keeps time, nothing is written.
    for (uint32_t port = 0; port < kNumPorts; ++port)
        lilv_instance_connect_port(host.instance, port, nullptr);
    lilv_instance_connect_port(host.instance, kNumPorts + 5, host.controls);  // no such port
    lilv_instance_run(host.instance, 4096);
    lilv_instance_run(host.instance, 0);
    // One output only: it gets the voice.
    lilv_instance_connect_port(host.instance, kRightOutPort, host.right.data());
    for (uint32_t frames : {0u, 1u, 4096u, 7u, 333u}) {
        std::fill(host.right.begin(), host.right.end(), 12345.0f);
        lilv_instance_run(host.instance, frames);
        ASSERT_TRUE(allFinite(host.right, frames));
        for (size_t i = frames; i < host.right.size(); ++i)
            ASSERT_EQ(host.right[i], 12345.0f) << "written past the run at " << i;
    }
    EXPECT_GT(peak(host.right, 333), 0.0f);
}
