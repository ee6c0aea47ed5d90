// The editor's costs on the in-memory window system (the same drawing code as on X11, without a
// server's round trips): opening to the first complete paint, a full repaint, one arc knob drawn
// from scratch, an idle with nothing to do (and the pixels it drew), and one step of a knob drag.
#include "vst2/corvex_editor.h"
#include "window/knob_arc.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"
#include "plugin/plugin_factory.h"

#include "platform/memory_window.h"

#include <benchmark/benchmark.h>

namespace {

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A Corvex instance from the plug-in's own factory and a host window to open it in.
struct Session {
    Session() {
        platform::memory::reset();
        host = platform::memory::createHostWindow({0, 0, 800, 600});
        effect = createEffectInstance(&hostCallback);
        record = effect->getAeffect();
        editor = static_cast<CorvexEditor*>(effect->getEditor());
    }
    ~Session() { record->dispatcher(record, effClose, 0, 0, nullptr, 0); }
    intptr_t dispatch(int32_t op, void* ptr = nullptr) {
        return record->dispatcher(record, op, 0, 0, ptr, 0);
    }
    // Opens and paints everything once, as a host's first expose does.
    void openAndPaint() {
        dispatch(effEditOpen, reinterpret_cast<void*>(host));
        platform::memory::postPaint(window(), {0, 0, 600, 350});
        dispatch(effEditIdle);
    }
    platform::Window* window() { return editor->getFrame()->getSystemWindow(); }

    platform::NativeWindow host = 0;
    AudioEffect* effect = nullptr;
    AEffect* record = nullptr;
    CorvexEditor* editor = nullptr;
};

void BM_EditorOpenToFirstPaint(benchmark::State& state) {
    Session s;
    for (auto _ : state) {
        s.openAndPaint();
        state.PauseTiming();
        s.dispatch(effEditClose);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EditorOpenToFirstPaint)->Unit(benchmark::kMillisecond);

void BM_EditorFullRepaint(benchmark::State& state) {
    Session s;
    s.openAndPaint();
    for (auto _ : state) s.editor->draw(nullptr);
    s.dispatch(effEditClose);
}
BENCHMARK(BM_EditorFullRepaint)->Unit(benchmark::kMillisecond);

void BM_ArcKnobRedraw(benchmark::State& state) {
    platform::Bitmap* bitmap = platform::createBitmap(100, 100);
    platform::Context* dc = platform::createContext(nullptr);
    platform::selectBitmap(dc, bitmap);
    gui::CDrawContext context(nullptr, dc, nullptr);
    CKnobArc knob(gui::CRect(20, 20, 80, 80), nullptr, 0, 0x8C0000, 0xFAF000, gui::CPoint(0, 0));
    float v = 0.0f;
    for (auto _ : state) {
        knob.setValue(v);
        knob.draw(&context);
        v = v >= 1.0f ? 0.0f : v + 0.01f;
    }
    platform::deleteContext(dc);
    platform::deleteBitmap(bitmap);
}
BENCHMARK(BM_ArcKnobRedraw)->Unit(benchmark::kMicrosecond);

void BM_EditorIdleNothingChanged(benchmark::State& state) {
    Session s;
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
BENCHMARK(BM_EditorIdleNothingChanged)->Unit(benchmark::kMicrosecond);

// One pointer step of a drag on "LFO Amount": the knob's new value through the editor to its field
// and the effect, then the idle that draws both.
void BM_KnobDragStep(benchmark::State& state) {
    Session s;
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
BENCHMARK(BM_KnobDragStep)->Unit(benchmark::kMicrosecond);

}  // namespace
