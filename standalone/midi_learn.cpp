// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI learn's bindings.
#include "standalone/midi_learn.h"

namespace corvex_standalone {

MidiLearn::MidiLearn() {
    for (auto& slot : parameterByController) slot.store(-1, std::memory_order_relaxed);
}

void MidiLearn::arm(int32_t parameter) {
    if (parameter >= 0 && parameter < kNumParams) armed.store(parameter, std::memory_order_relaxed);
}

void MidiLearn::set(int32_t controller, int32_t parameter) {
    // One controller per parameter: whatever else moved it lets go first.
    for (int32_t c = 0; c < kControllers; ++c)
        if (c != controller &&
            parameterByController[c].load(std::memory_order_relaxed) == parameter)
            parameterByController[c].store(-1, std::memory_order_relaxed);
    parameterByController[controller].store(static_cast<int8_t>(parameter),
                                            std::memory_order_relaxed);
    changeCount.fetch_add(1, std::memory_order_release);
}

bool MidiLearn::bind(int32_t controller, int32_t parameter) {
    if (!learnable(controller) || parameter < 0 || parameter >= kNumParams) return false;
    set(controller, parameter);
    return true;
}

void MidiLearn::forget(int32_t parameter) {
    for (auto& slot : parameterByController)
        if (slot.load(std::memory_order_relaxed) == parameter)
            slot.store(-1, std::memory_order_relaxed);
    changeCount.fetch_add(1, std::memory_order_release);
}

void MidiLearn::forgetAll() {
    for (auto& slot : parameterByController) slot.store(-1, std::memory_order_relaxed);
    changeCount.fetch_add(1, std::memory_order_release);
}

int32_t MidiLearn::controllerOf(int32_t parameter) const {
    if (parameter < 0 || parameter >= kNumParams) return -1;
    for (int32_t c = 0; c < kControllers; ++c)
        if (parameterByController[c].load(std::memory_order_relaxed) == parameter) return c;
    return -1;
}

int32_t MidiLearn::parameterOf(int32_t controller) const {
    if (controller < 0 || controller >= kControllers) return -1;
    return parameterByController[controller].load(std::memory_order_relaxed);
}

int32_t MidiLearn::take(uint8_t controller) {
    if (!learnable(controller)) return -1;
    if (armed.load(std::memory_order_relaxed) >= 0) {
        const int32_t parameter = armed.exchange(-1, std::memory_order_relaxed);
        if (parameter >= 0) set(controller, parameter);
    }
    return parameterByController[controller].load(std::memory_order_relaxed);
}

}  // namespace corvex_standalone
