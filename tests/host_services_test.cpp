// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the requests an effect makes of its host: each wrapper's opcode and arguments, how it
// reads the answer, and its default when there is no host.
#include "host/audioeffectx.h"
#include "hostkit/recording_host.h"

#include <gtest/gtest.h>

#include <cstring>

using hostkit::HostCall;
using hostkit::RecordingHost;

namespace {

class Probe : public AudioEffectX {
public:
    explicit Probe(audioMasterCallback cb) : AudioEffectX(cb, 4, 3) {}
    void process(float**, float**, int32_t) override {}
    void setParameter(int32_t index, float value) override {
        lastIndex = index;
        lastValue = value;
    }
    int32_t lastIndex = -1;
    float lastValue = 0.0f;
};

TEST(HostServices, VersionAndConnections) {
    RecordingHost host;
    Probe e(RecordingHost::callback());
    EXPECT_EQ(e.getMasterVersion(), 1);
    host.answers[audioMasterVersion] = 2400;
    EXPECT_EQ(e.getMasterVersion(), 2400);
    EXPECT_TRUE(e.isInputConnected(0));
    host.answers[audioMasterPinConnected] = 1;
    EXPECT_FALSE(e.isInputConnected(0));
    EXPECT_FALSE(e.isOutputConnected(1));
    EXPECT_EQ(host.last(audioMasterPinConnected)->index, 1);
    EXPECT_EQ(host.last(audioMasterPinConnected)->value, 1);
    EXPECT_EQ(host.last(audioMasterPinConnected)->effect, e.getAeffect());
}

TEST(HostServices, AnswerConversions) {
    RecordingHost host;
    Probe e(RecordingHost::callback());
    host.answers[audioMasterProcessEvents] = 2;
    EXPECT_FALSE(e.sendVstEventsToHost(nullptr));
    host.answers[audioMasterProcessEvents] = 1;
    EXPECT_TRUE(e.sendVstEventsToHost(nullptr));

    char sizeWindow[] = "sizeWindow";
    host.answers[audioMasterCanDo] = -1;
    EXPECT_TRUE(e.canHostDo(sizeWindow));
    EXPECT_EQ(host.last(audioMasterCanDo)->text, "sizeWindow");
    host.answers[audioMasterCanDo] = 0;
    EXPECT_FALSE(e.canHostDo(sizeWindow));

    host.answers[audioMasterSizeWindow] = 1;
    EXPECT_TRUE(e.sizeWindow(600, 350));
    EXPECT_EQ(host.last(audioMasterSizeWindow)->index, 600);
    EXPECT_EQ(host.last(audioMasterSizeWindow)->value, 350);

    e.getPreviousPlug(3);
    EXPECT_EQ(host.last(audioMasterGetPreviousPlug)->index, 0);
    EXPECT_EQ(host.last(audioMasterGetPreviousPlug)->value, 0);
    host.answers[audioMasterGetNextPlug] = 0x1234;
    EXPECT_EQ(reinterpret_cast<intptr_t>(e.getNextPlug(1)), 0x1234);

    e.beginEdit(7);
    e.endEdit(7);
    EXPECT_EQ(host.last(audioMasterBeginEdit)->index, 7);
    EXPECT_EQ(host.last(audioMasterEndEdit)->index, 7);

    e.offlineStart(nullptr, 5, 2);
    EXPECT_EQ(host.last(audioMasterOfflineStart)->index, 2);
    EXPECT_EQ(host.last(audioMasterOfflineStart)->value, 5);
    e.hostVendorSpecific(1, 2, &host, 0.5f);
    EXPECT_EQ(host.last(audioMasterVendorSpecific)->ptr, &host);
    EXPECT_EQ(host.last(audioMasterVendorSpecific)->opt, 0.5f);
}

TEST(HostServices, SampleRateAndBlockSizeUpdates) {
    RecordingHost host;
    Probe e(RecordingHost::callback());
    for (intptr_t bad : {0, -1}) {
        host.answers[audioMasterGetSampleRate] = bad;
        EXPECT_EQ(e.updateSampleRate(), 44100.0);
        host.answers[audioMasterGetBlockSize] = bad;
        EXPECT_EQ(e.updateBlockSize(), 1024);
    }
    host.answers[audioMasterGetSampleRate] = 48000;
    EXPECT_EQ(e.updateSampleRate(), 48000.0);
    EXPECT_EQ(e.getSampleRate(), 48000.0f);
    host.answers[audioMasterGetBlockSize] = 256;
    EXPECT_EQ(e.updateBlockSize(), 256);
}

TEST(HostServices, AutomatedParameterIsSetThenReported) {
    RecordingHost host;
    Probe e(RecordingHost::callback());
    e.setParameterAutomated(2, 0.5f);
    EXPECT_EQ(e.lastIndex, 2);
    EXPECT_EQ(e.lastValue, 0.5f);
    const HostCall* call = host.last(audioMasterAutomate);
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->index, 2);
    EXPECT_EQ(call->opt, 0.5f);
}

TEST(HostServices, DefaultsWithoutHost) {
    RecordingHost host;
    Probe e(nullptr);
    e.setParameterAutomated(1, 0.25f);
    EXPECT_EQ(e.lastIndex, 1);
    EXPECT_EQ(e.getMasterVersion(), 1);
    EXPECT_TRUE(e.isInputConnected(0));
    EXPECT_TRUE(e.isOutputConnected(0));
    EXPECT_FALSE(e.sendVstEventsToHost(nullptr));
    EXPECT_FALSE(e.canHostDo(nullptr));
    EXPECT_FALSE(e.sizeWindow(1, 1));
    EXPECT_EQ(e.getTimeInfo(0), nullptr);
    EXPECT_EQ(e.openWindow(nullptr), nullptr);
    EXPECT_EQ(e.updateSampleRate(), 44100.0);
    EXPECT_EQ(e.updateBlockSize(), 1024);
    e.wantEvents(1);
    e.masterIdle();
    EXPECT_TRUE(host.calls.empty());
}

TEST(SpeakerArrangements, AllocateCopyMatch) {
    Probe e(nullptr);
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(e.allocateArrangement(&a, 2));
    EXPECT_EQ(a->numChannels, 2);
    const auto* bytes = reinterpret_cast<const unsigned char*>(a->speakers);
    for (std::size_t i = 0; i < 2 * sizeof(VstSpeakerProperties); ++i) ASSERT_EQ(bytes[i], 0);
    a->type = 7;
    std::strcpy(a->speakers[1].name, "Right");
    a->speakers[1].azimuth = 0.5f;
    a->speakers[1].future[27] = 9;

    VstSpeakerArrangement* b = nullptr;
    ASSERT_TRUE(e.allocateArrangement(&b, 12));  // replaced by matchArrangement
    ASSERT_TRUE(e.matchArrangement(&b, a));
    EXPECT_EQ(b->type, 7);
    EXPECT_EQ(b->numChannels, 2);
    EXPECT_STREQ(b->speakers[1].name, "Right");
    EXPECT_EQ(b->speakers[1].azimuth, 0.5f);
    EXPECT_EQ(b->speakers[1].future[27], 9);
    EXPECT_FALSE(e.matchArrangement(&b, nullptr));
    EXPECT_FALSE(e.copySpeaker(nullptr, &a->speakers[0]));

    EXPECT_TRUE(e.deallocateArrangement(&a));
    EXPECT_EQ(a, nullptr);
    EXPECT_TRUE(e.deallocateArrangement(&b));
    EXPECT_TRUE(e.deallocateArrangement(&b));  // already null
}

TEST(EffectBase, FlagsFollowTheirSetters) {
    Probe e(nullptr);
    AEffect* r = e.getAeffect();
    EXPECT_EQ(r->flags, 0);
    EXPECT_EQ(r->uniqueID, 0x4E6F4566);
    EXPECT_EQ(r->numInputs, 1);
    e.isSynth();
    e.canProcessReplacing();
    e.hasClip(true);
    EXPECT_EQ(r->flags, 0x112);
    e.hasClip(false);
    EXPECT_EQ(r->flags, 0x110);
    EXPECT_EQ(e.getPlugCategory(), 2);
    e.isSynth(false);
    EXPECT_EQ(e.getPlugCategory(), 0);
}

}  // namespace
