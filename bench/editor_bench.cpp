// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's costs on the in-memory window system (the same drawing code as on X11, without a
// server's round trips): opening to the first complete paint, a full repaint, one arc knob drawn
// from scratch, an idle with nothing to do (and the pixels it drew), and one step of a knob drag;
// each at the window's scales 1, 2 and 3 (the argument).
#include "vst2/corvex_editor.h"
#include "window/knob_arc.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"
#include "plugin/plugin_factory.h"

#include "platform/memory_window.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A Corvex instance from the plug-in's own factory and a host window to open it in.
struct Session {
    explicit Session(int64_t scale) : scale(static_cast<int32_t>(scale)) {
        setenv("CORVEX_SCALE", std::to_string(scale).c_str(), 1);
        platform::memory::reset();
        host = platform::memory::createHostWindow({0, 0, 2000, 1200});
        effect = createEffectInstance(&hostCallback);
        record = effect->getAeffect();
        editor = static_cast<CorvexEditor*>(effect->getEditor());
    }
    ~Session() {
        record->dispatcher(record, effClose, 0, 0, nullptr, 0);
        unsetenv("CORVEX_SCALE");
    }
    intptr_t dispatch(int32_t op, void* ptr = nullptr) {
        return record->dispatcher(record, op, 0, 0, ptr, 0);
    }
    // Opens and paints everything once, as a host's first expose does.
    void openAndPaint() {
        dispatch(effEditOpen, reinterpret_cast<void*>(host));
        platform::memory::postPaint(window(), {0, 0, 600 * scale, 350 * scale});
        dispatch(effEditIdle);
    }
    platform::Window* window() { return editor->getFrame()->getSystemWindow(); }

    int32_t scale;
    platform::NativeWindow host = 0;
    AudioEffect* effect = nullptr;
    AEffect* record = nullptr;
    CorvexEditor* editor = nullptr;
};

void BM_EditorOpenToFirstPaint(benchmark::State& state) {
    Session s(state.range(0));
    for (auto _ : state) {
        s.openAndPaint();
        state.PauseTiming();
        s.dispatch(effEditClose);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EditorOpenToFirstPaint)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

void BM_EditorFullRepaint(benchmark::State& state) {
    Session s(state.range(0));
    s.openAndPaint();
    for (auto _ : state) s.editor->draw(nullptr);
    s.dispatch(effEditClose);
}
BENCHMARK(BM_EditorFullRepaint)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

void BM_ArcKnobRedraw(benchmark::State& state) {
    // Drawn into the open window: the surface it makes is at the window's scale.
    Session s(state.range(0));
    s.openAndPaint();
    platform::Context* dc = platform::getWindowContext(s.window());
    gui::CDrawContext context(s.editor->getFrame(), dc, s.window());
    CKnobArc knob(gui::CRect(20, 20, 80, 80), nullptr, 0, 0x8C0000, 0xFAF000, gui::CPoint(0, 0));
    float v = 0.0f;
    for (auto _ : state) {
        knob.setValue(v);
        knob.draw(&context);
        v = v >= 1.0f ? 0.0f : v + 0.01f;
    }
    platform::releaseWindowContext(s.window(), dc);
    s.dispatch(effEditClose);
}
BENCHMARK(BM_ArcKnobRedraw)->DenseRange(1, 3)->Unit(benchmark::kMicrosecond);

void BM_EditorIdleNothingChanged(benchmark::State& state) {
    Session s(state.range(0));
    s.openAndPaint();
    s.dispatch(effEditIdle);  // the labels' first update after the full paint
    const int32_t presents = platform::memory::presentCount(s.window());
    for (auto _ : state) s.dispatch(effEditIdle);
    const int32_t drawn = platform::memory::presentCount(s.window()) - presents;
    const platform::Rect last = platform::memory::lastPresented(s.window());
    state.counters["presents"] = drawn;
    state.counters["pixels_drawn"] =
        drawn == 0 ? 0.0 : static_cast<double>(last.right - last.left) * (last.bottom - last.top);
    s.dispatch(effEditClose);
}
BENCHMARK(BM_EditorIdleNothingChanged)->DenseRange(1, 3)->Unit(benchmark::kMicrosecond);

// One pointer step of a drag on "LFO Amount": the knob's new value through the editor to its field
// and the effect, then the idle that draws both.
void BM_KnobDragStep(benchmark::State& state) {
    Session s(state.range(0));
    s.openAndPaint();
    s.dispatch(effEditIdle);
    CKnobArc* knob = s.editor->getKnob(6);
    float v = 0.0f;
    for (auto _ : state) {
        knob->setValue(v);
        s.editor->getWindow().valueChanged(nullptr, knob);
        s.dispatch(effEditIdle);
        v = v >= 1.0f ? 0.0f : v + 0.01f;
    }
    s.dispatch(effEditClose);
}
BENCHMARK(BM_KnobDragStep)->DenseRange(1, 3)->Unit(benchmark::kMicrosecond);

}  // namespace
