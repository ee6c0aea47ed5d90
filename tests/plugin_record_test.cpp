// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the plug-in as a host sees it: the exported entry, the record's fields, the
// dispatcher's answers and the requests the plug-in makes of its host, all through the .so.
#include "hostkit/plugin.h"
#include "support/record_calls.h"
#include "hostkit/recording_host.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using hostkit::RecordingHost;

namespace {

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(plugin.entry(), nullptr);
        host.answers[audioMasterVersion] = 2400;
        effect = plugin.entry()(RecordingHost::callback());
        ASSERT_NE(effect, nullptr);
        dispatch(effect, effOpen);
    }
    void TearDown() override {
        if (effect) dispatch(effect, effClose);
    }

    const hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    RecordingHost host;
    AEffect* effect = nullptr;
};

TEST(PluginEntry, ExportsOnlyMain) {
    const hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    EXPECT_NE(plugin.symbol("main"), nullptr);
    EXPECT_EQ(plugin.symbol("VSTPluginMain"), nullptr);
    EXPECT_EQ(plugin.symbol("main_plugin"), nullptr);
    EXPECT_EQ(plugin.symbol("createEffectInstance"), nullptr);
    EXPECT_EQ(plugin.symbol("GetInstance"), nullptr);
}

TEST(PluginEntry, HostAnsweringZeroToVersionGetsNothing) {
    const hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    RecordingHost host;
    EXPECT_EQ(plugin.entry()(RecordingHost::callback()), nullptr);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].opcode, audioMasterVersion);
    EXPECT_EQ(host.calls[0].effect, nullptr);
    EXPECT_EQ(plugin.entry()(nullptr), nullptr);
}

class PluginEntryVersions : public ::testing::TestWithParam<intptr_t> {};

TEST_P(PluginEntryVersions, AnyNonZeroVersionIsAccepted) {
    const hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    RecordingHost host;
    host.answers[audioMasterVersion] = GetParam();
    AEffect* e = plugin.entry()(RecordingHost::callback());
    ASSERT_NE(e, nullptr);
    // The version request came first, with no record; then the effect asked for MIDI.
    ASSERT_GE(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].opcode, audioMasterVersion);
    EXPECT_EQ(host.count(audioMasterWantMidi), 1);
    EXPECT_EQ(host.last(audioMasterWantMidi)->effect, e);
    EXPECT_EQ(host.last(audioMasterWantMidi)->value, 1);
    EXPECT_EQ(dispatch(e, effClose), 1);
}

INSTANTIATE_TEST_SUITE_P(Hosts, PluginEntryVersions, ::testing::Values(2, 2300, 2400));

TEST_F(PluginTest, RecordFields) {
    EXPECT_EQ(std::memcmp(&effect->magic, "PtsV", 4), 0);  // 'VstP' as a little-endian int
    EXPECT_EQ(effect->magic, 0x56737450);
    EXPECT_EQ(effect->flags, 0x111);  // editor + replacing + synth
    EXPECT_EQ(effect->numInputs, 0);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->numPrograms, 64);
    EXPECT_EQ(effect->numParams, 14);
    EXPECT_EQ(effect->uniqueID, 0x4F6E6472);
    EXPECT_EQ(effect->version, 1);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->realQualities, 0);
    EXPECT_EQ(effect->offQualities, 0);
    EXPECT_EQ(effect->resvd1, 0);
    EXPECT_EQ(effect->resvd2, 0);
    EXPECT_EQ(effect->user, nullptr);
    EXPECT_NE(effect->object, nullptr);
    for (char c : effect->future) EXPECT_EQ(c, 0);
    EXPECT_NE(effect->dispatcher, nullptr);
    EXPECT_NE(effect->process, nullptr);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_NE(effect->setParameter, nullptr);
    EXPECT_NE(effect->getParameter, nullptr);
}

TEST_F(PluginTest, FixedAnswers) {
    EXPECT_EQ(dispatch(effect, effGetVstVersion), 2300);
    EXPECT_EQ(dispatch(effect, effIdentify), 0x4E764566);
    EXPECT_EQ(dispatch(effect, effGetPlugCategory), 2);
    EXPECT_EQ(dispatch(effect, effGetNumProgramCategories), 1);
    EXPECT_EQ(dispatch(effect, effGetVendorVersion), 0);
    EXPECT_EQ(dispatch(effect, effCanBeAutomated, 3), 1);
    EXPECT_EQ(dispatch(effect, effConnectInput, 0, 1), 1);
    EXPECT_EQ(dispatch(effect, effConnectOutput, 1, 1), 1);
    EXPECT_EQ(dispatch(effect, effGetCurrentMidiProgram), -1);  // sign-extended
    EXPECT_EQ(dispatch(effect, effSetTotalSampleToProcess, 0, 512), 512);
    EXPECT_EQ(dispatch(effect, effSetBlockSizeAndSampleRate, 0, 256, nullptr, 48000.0f), 1);
    EXPECT_EQ(dispatch(effect, effKeysRequired), 1);  // no editor wants keys
    EXPECT_EQ(dispatch(effect, effGetVu), 0);
    EXPECT_EQ(dispatch(effect, effGetTailSize), 0);
    EXPECT_EQ(dispatch(effect, effProcessEvents), 1);
    // Editor requests while its window is closed: the size is known, a window without a parent
    // cannot be made (and is not reported as open), keys and the wheel are not taken.
    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(effect, effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 350);
    EXPECT_EQ(rect->right, 600);
    EXPECT_EQ(dispatch(effect, effEditOpen), 0);
    EXPECT_EQ(dispatch(effect, effEditKeyDown, 'a'), -1);
    EXPECT_EQ(dispatch(effect, effSetEditKnobMode, 0, 2), 1);
    EXPECT_EQ(dispatch(effect, effSetEditKnobMode, 0, 0), 1);
    EXPECT_EQ(dispatch(effect, effVendorSpecific, 0x73744341, 0x57686565, nullptr, 1.0f), 0);
    EXPECT_EQ(dispatch(effect, effEditIdle), 0);
    EXPECT_EQ(dispatch(effect, effEditClose), 0);
}

TEST_F(PluginTest, UnknownOpcodesAnswerZero) {
    for (int32_t opcode : {-1, -1000, 16, 17, 18, 20, 21, 77, 78, 1000, INT32_MAX, INT32_MIN})
        EXPECT_EQ(dispatch(effect, opcode, 1, 1, nullptr, 1.0f), 0) << opcode;
    char buffer[64] = "unchanged";
    EXPECT_EQ(dispatch(effect, 77, 0, 0, buffer), 0);
    EXPECT_STREQ(buffer, "unchanged");
}

TEST_F(PluginTest, SpeakerArrangementAnswersNullAndFalse) {
    VstSpeakerArrangement* in = reinterpret_cast<VstSpeakerArrangement*>(0x10);
    VstSpeakerArrangement* out = reinterpret_cast<VstSpeakerArrangement*>(0x20);
    EXPECT_EQ(dispatch(effect, effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&in), &out),
              0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
}

TEST_F(PluginTest, IdentityAndCapabilities) {
    EXPECT_EQ(dispatchText(effect, effGetEffectName), "Corvex");
    EXPECT_EQ(dispatchText(effect, effGetProductString), "Corvex");
    EXPECT_EQ(dispatchText(effect, effGetVendorString), "Ondrel");
    EXPECT_EQ(dispatch(effect, effGetEffectName, 0, 0, nullptr), 0);

    auto canDo = [&](const char* text) {
        return dispatch(effect, effCanDo, 0, 0, const_cast<char*>(text));
    };
    EXPECT_EQ(canDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(canDo("receiveVstEvents"), 1);
    for (const char* no :
         {"sendVstMidiEvent", "bypass", "", "receivevstevents", "receiveVstTimeInfo"})
        EXPECT_EQ(canDo(no), 0) << no;
    EXPECT_EQ(dispatch(effect, effCanDo, 0, 0, nullptr), 0);
}

TEST_F(PluginTest, ParameterNamesLabelsAndDisplays) {
    const char* names[14] = {"LFO freq", "LFO harm", "OSC harm", "LFO shrp", "LFO cent",
                             "LFO ph",   "LFO amnt", "OSC damp", "Attack",   "Decay",
                             "Sustain",  "Release",  "LFO rand", "OSC shap"};
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(dispatchText(effect, effGetParamName, i), names[i]);
        EXPECT_EQ(dispatchText(effect, effGetParamLabel, i), "-");
    }
    EXPECT_EQ(dispatchText(effect, effGetParamName, 14), "-");
    EXPECT_EQ(dispatchText(effect, effGetParamDisplay, 14), "0");
    EXPECT_EQ(dispatchText(effect, effGetParamLabel, -5), "-");

    effect->setParameter(effect, 0, 0.25f);
    EXPECT_EQ(dispatchText(effect, effGetParamDisplay, 0), "0.250000");
    EXPECT_FLOAT_EQ(effect->getParameter(effect, 0), 0.25f);
    effect->setParameter(effect, 5, 1.0f);
    EXPECT_EQ(dispatchText(effect, effGetParamDisplay, 5), "Random");
    effect->setParameter(effect, 5, 0.999999f);
    EXPECT_EQ(dispatchText(effect, effGetParamDisplay, 5), "0.999999");
    EXPECT_EQ(effect->getParameter(effect, 14), 0.0f);
    EXPECT_EQ(effect->getParameter(effect, -1), 0.0f);
}

TEST_F(PluginTest, ParameterTextsFitEightCharactersAndTheTerminator) {
    // Bytes a request wrote into a buffer pre-filled with a marker.
    auto written = [&](int32_t opcode, int32_t index) {
        unsigned char buffer[64];
        std::memset(buffer, 0xA5, sizeof buffer);
        dispatch(effect, opcode, index, 0, buffer);
        std::size_t used = 0;
        for (std::size_t i = 0; i < sizeof buffer; ++i)
            if (buffer[i] != 0xA5) used = i + 1;
        return used;
    };
    // Values are stored as sent; the text shows the value the engine renders with.
    const struct {
        float stored;
        const char* shown;
    } cases[] = {{1e30f, "1.000000"},    {-3e9f, "0.000000"},     {-3e38f, "0.000000"},
                 {INFINITY, "1.000000"}, {-INFINITY, "0.000000"}, {NAN, "0.000000"},
                 {-0.0f, "0.000000"},    {-0.25f, "0.000000"},    {1.5f, "1.000000"},
                 {0.5f, "0.500000"}};
    for (const auto& c : cases) {
        for (int32_t index = 0; index < 15; ++index) {
            effect->setParameter(effect, index, c.stored);
            ASSERT_LE(written(effGetParamDisplay, index), 9u) << c.stored << " at " << index;
            ASSERT_LE(written(effGetParamName, index), 9u) << index;
            ASSERT_LE(written(effGetParamLabel, index), 9u) << index;
        }
        EXPECT_EQ(dispatchText(effect, effGetParamDisplay, 2), c.shown) << c.stored;
        if (!std::isnan(c.stored)) {
            EXPECT_EQ(effect->getParameter(effect, 2), c.stored);
        }
    }
    // LFO ph renders stored values at or above 1 as "Random".
    effect->setParameter(effect, 5, 7.0f);
    EXPECT_EQ(dispatchText(effect, effGetParamDisplay, 5), "Random");
}

TEST_F(PluginTest, FreshEffectPlaysProgramZero) {
    // A host that selects no program still gets the sound of the current program, "Aquatic".
    EXPECT_EQ(dispatch(effect, effGetProgram), 0);
    EXPECT_EQ(dispatchText(effect, effGetProgramName), "Aquatic");
    EXPECT_FLOAT_EQ(effect->getParameter(effect, 0), 0.1f);
    EXPECT_FLOAT_EQ(effect->getParameter(effect, 8), 0.2f);
    EXPECT_FLOAT_EQ(effect->getParameter(effect, 10), 0.95f);
    EXPECT_EQ(host.count(audioMasterAutomate), 0);
}

TEST_F(PluginTest, ProgramSelectionAndNaming) {
    dispatch(effect, effSetProgram, 0, 3);
    EXPECT_EQ(dispatch(effect, effGetProgram), 3);
    EXPECT_EQ(dispatchText(effect, effGetProgramName), "Birds");
    EXPECT_FLOAT_EQ(effect->getParameter(effect, 0), 0.8f);
    EXPECT_FLOAT_EQ(effect->getParameter(effect, 2), 0.7111f);
    EXPECT_FLOAT_EQ(effect->getParameter(effect, 13), 0.02f);

    // Out-of-range values, also those that alias a valid program in 32 bits, are ignored.
    std::vector<intptr_t> bad = {64, -1, 1000};
    if (sizeof(intptr_t) == 8) {
        bad.push_back(static_cast<intptr_t>(int64_t{1} << 32));
        bad.push_back(static_cast<intptr_t>((int64_t{1} << 32) + 5));
    }
    for (intptr_t v : bad) {
        dispatch(effect, effSetProgram, 0, v);
        EXPECT_EQ(dispatch(effect, effGetProgram), 3) << v;
    }
    dispatch(effect, effSetProgram, 0, 63);
    EXPECT_EQ(dispatchText(effect, effGetProgramName), "default");

    char longName[] = "A name far longer than twenty-three characters";
    dispatch(effect, effSetProgramName, 0, 0, longName);
    EXPECT_EQ(dispatchText(effect, effGetProgramName), "A name far longer than ");
    EXPECT_EQ(dispatch(effect, effSetProgramName, 0, 0, nullptr), 0);
    EXPECT_EQ(dispatch(effect, effGetProgramName, 0, 0, nullptr), 0);
}

TEST_F(PluginTest, ProgramNamesIndexed) {
    EXPECT_EQ(dispatch(effect, effGetProgramNameIndexed, 0, 5, nullptr), 0);
    char text[64] = "untouched";
    EXPECT_EQ(dispatch(effect, effGetProgramNameIndexed, 64, 0, text), 0);
    EXPECT_EQ(dispatch(effect, effGetProgramNameIndexed, -1, 0, text), 0);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(dispatch(effect, effGetProgramNameIndexed, 0, 99, text), 1);
    EXPECT_STREQ(text, "Aquatic");
    EXPECT_EQ(dispatchText(effect, effGetProgramNameIndexed, 37), " Bass-1");
    EXPECT_EQ(dispatchText(effect, effGetProgramNameIndexed, 47), "Organ-like");
    EXPECT_EQ(dispatchText(effect, effGetProgramNameIndexed, 48), "default");

    dispatch(effect, effSetProgram, 0, 5);
    char init[] = "Init";
    dispatch(effect, effSetProgramName, 0, 0, init);
    EXPECT_EQ(dispatchText(effect, effGetProgramNameIndexed, 5), "Init 6");
    dispatch(effect, effSetProgram, 0, 6);
    char lower[] = "init";
    dispatch(effect, effSetProgramName, 0, 0, lower);
    EXPECT_EQ(dispatchText(effect, effGetProgramNameIndexed, 6), "init");
}

TEST_F(PluginTest, MainsOnAsksForMidiAgain) {
    const int before = host.count(audioMasterWantMidi);
    dispatch(effect, effMainsChanged, 0, 1);
    EXPECT_EQ(host.count(audioMasterWantMidi), before + 1);
    dispatch(effect, effMainsChanged, 0, 0);
    EXPECT_EQ(host.count(audioMasterWantMidi), before + 1);
}

// Every request with a null pointer (and zero values) is answered without a crash; the requests
// that would read or write through the pointer answer 0, and the record, the program and its
// values stay as they were.
TEST_F(PluginTest, NullPointersOnEveryOpcodeAreSafe) {
    dispatch(effect, effSetProgram, 0, 3);
    const AEffect fields = *effect;
    std::vector<float> values;
    for (int32_t i = 0; i < effect->numParams; ++i)
        values.push_back(effect->getParameter(effect, i));
    const std::string programName = dispatchText(effect, effGetProgramName);

    const std::set<int32_t> throughPointer = {effGetProgramName,     effGetParamLabel,
                                              effGetParamDisplay,    effGetParamName,
                                              effEditGetRect,        effGetChunk,
                                              effSetChunk,           effGetProgramNameIndexed,
                                              effGetInputProperties, effGetOutputProperties,
                                              effGetEffectName,      effGetVendorString,
                                              effGetProductString,   effCanDo,
                                              effString2Parameter,   effGetParameterProperties,
                                              effGetMidiKeyName};
    for (int32_t opcode = -2; opcode <= 80; ++opcode) {
        if (opcode == effClose || opcode == effSetProgram || opcode == effSetSampleRate) continue;
        const intptr_t answer = dispatch(effect, opcode, 0, 0, nullptr, 0.0f);
        if (throughPointer.count(opcode)) {
            EXPECT_EQ(answer, 0) << "opcode " << opcode;
        }
    }
    effect->processReplacing(effect, nullptr, nullptr, 64);
    effect->process(effect, nullptr, nullptr, 64);

    EXPECT_EQ(std::memcmp(&fields, effect, sizeof fields), 0) << "the record changed";
    EXPECT_EQ(dispatch(effect, effGetProgram), 3);
    EXPECT_EQ(dispatchText(effect, effGetProgramName), programName);
    for (int32_t i = 0; i < effect->numParams; ++i)
        EXPECT_EQ(effect->getParameter(effect, i), values[static_cast<std::size_t>(i)]) << i;
}

// effClose ends the effect: the call itself asks nothing of the host, and nothing afterwards
// reaches the host with the closed record, while another instance of the library keeps working.
TEST(PluginLifecycle, CloseDestroysTheEffectAndItsHostGetsNoMoreCalls) {
    const hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    RecordingHost host;
    host.answers[audioMasterVersion] = 2300;
    AEffect* e = plugin.entry()(RecordingHost::callback());
    ASSERT_NE(e, nullptr);
    AEffect* other = plugin.entry()(RecordingHost::callback());  // alive before e goes
    ASSERT_NE(other, nullptr);
    ASSERT_NE(other, e);
    dispatch(e, effOpen);
    dispatch(e, effMainsChanged, 0, 1);
    dispatch(e, effMainsChanged, 0, 0);
    const std::size_t beforeClose = host.calls.size();
    EXPECT_EQ(dispatch(e, effClose), 1);
    EXPECT_EQ(host.calls.size(), beforeClose) << "effClose called the host";

    // The other instance runs a whole session: its requests carry its own record only.
    dispatch(other, effOpen);
    dispatch(other, effSetSampleRate, 0, 0, nullptr, 44100.0f);
    dispatch(other, effMainsChanged, 0, 1);
    std::vector<float> left(256), right(256);
    float* outputs[2] = {left.data(), right.data()};
    other->processReplacing(other, nullptr, outputs, 256);
    dispatch(other, effMainsChanged, 0, 0);
    dispatch(other, effClose);
    for (std::size_t i = beforeClose; i < host.calls.size(); ++i)
        EXPECT_NE(host.calls[i].effect, e) << "opcode " << host.calls[i].opcode;
    EXPECT_GT(host.calls.size(), beforeClose);  // the other instance did reach the host
}

TEST(PluginLifecycle, ManyInstancesAreIndependent) {
    const hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    RecordingHost host;
    host.answers[audioMasterVersion] = 2400;
    AEffect* a = plugin.entry()(RecordingHost::callback());
    AEffect* b = plugin.entry()(RecordingHost::callback());
    ASSERT_NE(a, b);
    dispatch(a, effSetProgram, 0, 10);
    a->setParameter(a, 4, 0.33f);
    EXPECT_EQ(dispatch(b, effGetProgram), 0);
    EXPECT_FLOAT_EQ(b->getParameter(b, 4), 0.5f);
    EXPECT_FLOAT_EQ(a->getParameter(a, 4), 0.33f);
    dispatch(a, effClose);
    dispatch(b, effClose);
}

}  // namespace
