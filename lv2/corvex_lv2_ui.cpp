// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 UI's side of the window: port values in and out, touch grabs, the host's idle.
#include "lv2/corvex_lv2_ui.h"

#include "platform/window.h"

namespace corvex_lv2 {

namespace {
bool validIndex(int32_t index) { return index >= 0 && index < kNumParams; }
}  // namespace

CorvexLv2Ui::CorvexLv2Ui(LV2UI_Write_Function writeFunction, LV2UI_Controller hostController,
                         const LV2UI_Touch* touch, const LV2UI_Resize* resize)
    : write(writeFunction), controller(hostController), touchFeature(touch), resizeFeature(resize) {
    // Until the host's first port events, what a new instance plays.
    for (int32_t index = 0; index < kNumParams; ++index) values[index] = defaultValue(index);
}

CorvexLv2Ui::~CorvexLv2Ui() { window.close(); }

bool CorvexLv2Ui::open(void* parent) {
    if (!window.open(parent)) return false;
    const int32_t scale = window.getFrame() ? window.getFrame()->getScale() : 1;
    if (resizeFeature && resizeFeature->ui_resize)
        resizeFeature->ui_resize(resizeFeature->handle, CorvexWindow::kWidth * scale,
                                 CorvexWindow::kHeight * scale);
    return true;
}

uintptr_t CorvexLv2Ui::widget() const {
    gui::CFrame* frame = window.getFrame();
    platform::Window* system = frame ? frame->getSystemWindow() : nullptr;
    return system ? platform::nativeHandle(system) : 0;
}

void CorvexLv2Ui::portEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    if (format != 0 || size != sizeof(float) || !buffer || port >= uint32_t{kNumParams}) return;
    const float value = *static_cast<const float*>(buffer);
    values[port] = value;
    window.setParameter(static_cast<int32_t>(port), value);
}

int CorvexLv2Ui::idle() {
    gui::CFrame* frame = window.getFrame();
    if (!frame) return 1;
    window.idle();
    frame->idle();
    return 0;
}

float CorvexLv2Ui::getParameter(int32_t index) { return validIndex(index) ? values[index] : 0.0f; }

void CorvexLv2Ui::setParameterFromUser(int32_t index, float value) {
    if (!validIndex(index)) return;
    values[index] = value;
    // The host hears every edit as a port value, so it records automation from the window.
    if (write) write(controller, static_cast<uint32_t>(index), sizeof value, 0, &value);
    window.setParameter(index, value);
}

void CorvexLv2Ui::resendValues() {
    for (int32_t index = 0; index < kNumParams; ++index) window.setParameter(index, values[index]);
}

void CorvexLv2Ui::touch(int32_t index, bool grabbed) {
    if (validIndex(index) && touchFeature && touchFeature->touch)
        touchFeature->touch(touchFeature->handle, static_cast<uint32_t>(index), grabbed);
}

void CorvexLv2Ui::doIdleStuff() {
    // Values and drawing, then paint events only (a click must not reach the views while one is
    // being tracked). The host's own idle waits until such a loop ends.
    const uint32_t now = platform::ticks();
    if (static_cast<int32_t>(nextPaint - now) > 0) {
        platform::sleepMs(4);
        return;
    }
    idle();
    if (gui::CFrame* frame = window.getFrame()) frame->dispatchPaint();
    nextPaint = now + 20;
}

uint32_t CorvexLv2Ui::getTicks() { return platform::ticks(); }

}  // namespace corvex_lv2
