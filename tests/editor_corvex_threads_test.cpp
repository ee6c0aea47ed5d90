// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the hand-over of host automation to the open window: a host's automation thread setting
// all fourteen parameters while the user drags a knob and the window idles must not touch a view
// or a text off the window's thread (run under ThreadSanitizer in CI), and what is shown at the
// end is the last value of each parameter. Opening the window while another thread selects and
// renames programs and a third renders must not write the program index or a name (it once
// re-sent the program and reset its name, racing with the host's program calls).
#include "vst2/corvex_editor.h"
#include "window/knob_arc.h"
#include "gui/frame.h"
#include "gui/textedit.h"
#include "plugin/plugin_factory.h"

#include "platform/memory_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// The drag's pointer path, one step per host idle granted from the knob's tracking loop; the
// window's own idle runs at every step too.
std::vector<platform::Point> gPath;
size_t gStep = 0;

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterIdle) {
        if (gStep < gPath.size()) platform::memory::setPointer(gPath[gStep++]);
        else platform::memory::setState(0);
    }
    return 0;
}

std::string text(gui::CTextEdit* field) {
    char buffer[gui::kTextBufferSize];
    field->getText(buffer);
    return buffer;
}

TEST(CorvexWindowThreads, AutomationFromASecondThreadDuringADragIsHandedOverCleanly) {
    platform::memory::reset();
    const platform::NativeWindow host = platform::memory::createHostWindow({0, 0, 800, 600});
    AudioEffect* effect = createEffectInstance(&hostCallback);
    ASSERT_NE(effect, nullptr);
    AEffect* record = effect->getAeffect();
    auto* editor = dynamic_cast<CorvexEditor*>(effect->getEditor());
    ASSERT_NE(editor, nullptr);
    auto dispatch = [&](int32_t op, void* ptr = nullptr) {
        return record->dispatcher(record, op, 0, 0, ptr, 0);
    };
    ASSERT_EQ(dispatch(effEditOpen, reinterpret_cast<void*>(host)), 1);
    platform::Window* window = editor->getFrame()->getSystemWindow();
    platform::memory::postPaint(window, {0, 0, 600, 350});
    dispatch(effEditIdle);

    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread automation([&] {
        for (int round = 0; !stop.load(); ++round) {
            for (int32_t i = 0; i < 14; ++i)
                record->setParameter(record, i, static_cast<float>((round * 7 + i) % 101) / 100.0f);
            rounds.fetch_add(1);
        }
        for (int32_t i = 0; i < 14; ++i) record->setParameter(record, i, (i + 1) / 32.0f);
    });
    // Several drags over "LFO Amount" (centre (419, 175)) while the automation runs.
    for (int drag = 0; drag < 4; ++drag) {
        gPath.clear();
        gStep = 0;
        for (int i = 0; i <= 40; ++i) {
            const double a = 3.141592653589793 * ((drag % 2 ? i : 40 - i) / 40.0);
            gPath.push_back({419 + static_cast<int32_t>(25 * std::cos(a)),
                             175 - static_cast<int32_t>(25 * std::sin(a))});
        }
        platform::memory::setPointer(gPath[0]);
        platform::memory::setState(platform::kButtonLeft);
        platform::memory::postButtonDown(window, gPath[0], 1);
        dispatch(effEditIdle);
        for (int i = 0; i < 20; ++i) dispatch(effEditIdle);
    }
    while (rounds.load() < 50) std::this_thread::yield();
    stop = true;
    automation.join();
    dispatch(effEditIdle);
    EXPECT_EQ(editor->pendingMask(), 0u);
    for (int32_t i = 0; i < 14; ++i) {
        SCOPED_TRACE(i);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%0.6f", (i + 1) / 32.0);
        EXPECT_EQ(editor->getKnob(i)->getValue(), (i + 1) / 32.0f);
        EXPECT_EQ(text(editor->getTextField(i)), expected);
    }
    dispatch(effEditClose);
    dispatch(effClose);
}

TEST(CorvexWindowThreads, OpeningWhileProgramsChangeAndAudioRendersTouchesNoProgram) {
    platform::memory::reset();
    gPath.clear();
    gStep = 0;
    const platform::NativeWindow host = platform::memory::createHostWindow({0, 0, 800, 600});
    AudioEffect* effect = createEffectInstance(&hostCallback);
    ASSERT_NE(effect, nullptr);
    AEffect* record = effect->getAeffect();
    auto dispatch = [&](int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                        float opt = 0.0f) {
        return record->dispatcher(record, op, index, value, ptr, opt);
    };
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    dispatch(effMainsChanged, 0, 1);

    std::atomic<bool> stop{false};
    std::thread programs([&] {
        for (int n = 0; !stop.load(); ++n) {
            dispatch(effSetProgram, 0, n % 64);
            char name[] = "My Patch";
            dispatch(effSetProgramName, 0, 0, name);
            char out[64] = {};
            dispatch(effGetProgramName, 0, 0, out);
            dispatch(effGetProgramNameIndexed, (n * 7) % 64, 0, out);
        }
    });
    std::thread audio([&] {
        VstMidiEvent on{};
        on.type = kVstMidiType;
        on.byteSize = sizeof on;
        on.midiData[0] = static_cast<char>(0x90);
        on.midiData[1] = 60;
        on.midiData[2] = 100;
        struct {
            int32_t numEvents;
            intptr_t reserved;
            VstEvent* events[2];
        } list{1, 0, {reinterpret_cast<VstEvent*>(&on), nullptr}};
        dispatch(effProcessEvents, 0, 0, &list);
        std::vector<float> left(64), right(64);
        float* outputs[2] = {left.data(), right.data()};
        while (!stop.load()) record->processReplacing(record, nullptr, outputs, 64);
    });
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
        dispatch(effEditIdle);
        dispatch(effEditClose);
    }
    stop = true;
    programs.join();
    audio.join();

    // On one thread, exactly: the open leaves the program, its name and every value alone.
    dispatch(effSetProgram, 0, 17);
    char name[] = "Mine";
    dispatch(effSetProgramName, 0, 0, name);
    record->setParameter(record, 3, 0.123f);
    float before[14];
    for (int32_t i = 0; i < 14; ++i) before[i] = record->getParameter(record, i);
    ASSERT_EQ(dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)), 1);
    dispatch(effEditIdle);
    dispatch(effEditClose);
    char after[64] = {};
    dispatch(effGetProgramName, 0, 0, after);
    EXPECT_STREQ(after, "Mine");
    EXPECT_EQ(dispatch(effGetProgram), 17);
    for (int32_t i = 0; i < 14; ++i) EXPECT_EQ(record->getParameter(record, i), before[i]) << i;
    dispatch(effClose);
}

}  // namespace
