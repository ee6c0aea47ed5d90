// SPDX-License-Identifier: GPL-3.0-or-later
// AEffGUIEditor: the editor base on top of the toolkit.
#include "vst2/aeffguieditor.h"

#include "host/audioeffectx.h"

#include <cstring>

int32_t AEffGUIEditor::knobMode = 0;

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect) : AEffEditor(effect) {
    if (effect) effect->setEditor(this);
    systemWindow = nullptr;
    // The base's clock, as intended: a subclass cannot answer before it is constructed.
    nextIdleTime = AEffGUIEditor::getTicks();
}

AEffGUIEditor::~AEffGUIEditor() = default;

int32_t AEffGUIEditor::getRect(ERect** out) {
    if (!out) return 0;
    *out = &rect;
    return 1;
}

int32_t AEffGUIEditor::open(void* ptr) {
    postUpdate();
    AEffEditor::open(ptr);
    return 0;
}

void AEffGUIEditor::idle() {
    if (inIdle) return;
    AEffEditor::idle();
    if (frame) frame->idle();
}

int32_t AEffGUIEditor::setKnobMode(int val) {
    knobMode = val;
    return 1;
}

gui::CKeyCode toToolkitKey(const VstKeyCode& k) {
    gui::CKeyCode key;
    key.character = k.character;
    if (k.modifier & 1) key.modifiers |= gui::kKeyShift;
    if (k.modifier & 2) key.modifiers |= gui::kKeyAlt;
    if (k.modifier & (4 | 8)) key.modifiers |= gui::kKeyControl;
    using gui::CKey;
    switch (k.virt) {
    case 0: key.key = CKey::none; break;
    case 1: key.key = CKey::backspace; break;
    case 4: key.key = CKey::returnKey; break;
    case 6: key.key = CKey::escape; break;
    case 7: key.key = CKey::space; break;
    case 9: key.key = CKey::end; break;
    case 10: key.key = CKey::home; break;
    case 11: key.key = CKey::left; break;
    case 12: key.key = CKey::up; break;
    case 13: key.key = CKey::right; break;
    case 14: key.key = CKey::down; break;
    case 19: key.key = CKey::enter; break;
    case 22: key.key = CKey::del; break;
    case 34: key.key = CKey::keypadMultiply; break;
    case 35: key.key = CKey::keypadAdd; break;
    case 37: key.key = CKey::keypadSubtract; break;
    case 38: key.key = CKey::keypadDecimal; break;
    case 39: key.key = CKey::keypadDivide; break;
    default:
        key.key = k.virt >= 24 && k.virt <= 33
                      ? static_cast<CKey>(static_cast<int32_t>(CKey::keypad0) + (k.virt - 24))
                      : CKey::unknown;
        break;
    }
    return key;
}

int32_t AEffGUIEditor::onKeyDown(VstKeyCode& keyCode) {
    if (!frame) return -1;
    gui::CKeyCode k = toToolkitKey(keyCode);
    return frame->onKeyDown(k);
}

int32_t AEffGUIEditor::onKeyUp(VstKeyCode& keyCode) {
    if (!frame) return -1;
    gui::CKeyCode k = toToolkitKey(keyCode);
    return frame->onKeyUp(k);
}

bool AEffGUIEditor::onWheel(float distance) {
    if (!frame) return false;
    return frame->onWheel(nullptr, gui::CPoint(0, 0), distance);
}

void AEffGUIEditor::setParameter(int32_t, float) { postUpdate(); }

bool AEffGUIEditor::keysRequired() { return frame && frame->keysRequired(); }

void AEffGUIEditor::draw(ERect*) {
    if (frame) frame->draw(static_cast<gui::CView*>(nullptr));
}

void AEffGUIEditor::doIdleStuff() {
    uint32_t now = getTicks();
    // Differences, not plain comparisons: the tick counter wraps every 49.7 days.
    if (static_cast<int32_t>(nextIdleTime - now) > 0) {
        wait(4);
        now += 4;
        if (static_cast<int32_t>((nextIdleTime - 50) - now) > 0) return;
    }
    idle();
    // What the original platform's paint-message peeking did: paint events only, never the
    // full event pump (a click must not reach the views while one is being tracked).
    if (frame) frame->dispatchPaint();
    nextIdleTime = now + 100;
    inIdle = true;
    if (effect) effect->masterIdle();
    inIdle = false;
}

void AEffGUIEditor::wait(uint32_t ms) { platform::sleepMs(ms); }

uint32_t AEffGUIEditor::getTicks() { return platform::ticks(); }

namespace {
AudioEffectX* extended(AudioEffect* effect) { return dynamic_cast<AudioEffectX*>(effect); }
}  // namespace

void AEffGUIEditor::beginEdit(int32_t index) {
    if (AudioEffectX* fx = extended(effect)) fx->beginEdit(index);
}

void AEffGUIEditor::endEdit(int32_t index) {
    if (AudioEffectX* fx = extended(effect)) fx->endEdit(index);
}

bool AEffGUIEditor::sizeWindow(int32_t width, int32_t height) {
    AudioEffectX* fx = extended(effect);
    char canDo[] = "sizeWindow";
    return fx && fx->canHostDo(canDo) && fx->sizeWindow(width, height);
}

platform::NativeWindow AEffGUIEditor::openWindow(gui::CWindowRecord& record) {
    AudioEffectX* fx = extended(effect);
    if (!fx) return 0;
    hostWindow = VstWindow{};
    std::memcpy(hostWindow.title, record.title, sizeof hostWindow.title);
    hostWindow.title[sizeof hostWindow.title - 1] = '\0';
    hostWindow.xPos = record.x;
    hostWindow.yPos = record.y;
    hostWindow.width = record.width;
    hostWindow.height = record.height;
    hostWindow.style = record.style;
    return reinterpret_cast<platform::NativeWindow>(fx->openWindow(&hostWindow));
}

bool AEffGUIEditor::closeWindow(gui::CWindowRecord&) {
    AudioEffectX* fx = extended(effect);
    return fx && fx->closeWindow(&hostWindow);
}
