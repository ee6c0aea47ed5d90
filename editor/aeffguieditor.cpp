// AEffGUIEditor: the editor base on top of the toolkit.
#include "editor/aeffguieditor.h"

#include "host/audioeffectx.h"

#include <cstring>

int32_t AEffGUIEditor::knobMode = 0;

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect) : AEffEditor(effect) {
    if (effect) effect->setEditor(this);
    systemWindow = nullptr;
    nextIdleTime = getTicks();
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

namespace {
gui::VstKeyCode toGui(const VstKeyCode& k) {
    return gui::VstKeyCode{k.character, k.virt, k.modifier};
}
}  // namespace

int32_t AEffGUIEditor::onKeyDown(VstKeyCode& keyCode) {
    if (!frame) return -1;
    gui::VstKeyCode k = toGui(keyCode);
    return frame->onKeyDown(k);
}

int32_t AEffGUIEditor::onKeyUp(VstKeyCode& keyCode) {
    if (!frame) return -1;
    gui::VstKeyCode k = toGui(keyCode);
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
