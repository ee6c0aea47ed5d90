// SPDX-License-Identifier: GPL-3.0-or-later
// The effect's view of its editor: the plug-in interface's abstract editor, which knows its
// effect and the host's parent window and defers redrawing through an update flag.
#pragma once

#include "host/aeffect.h"

#include <atomic>

class AudioEffect;

class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* effect) : effect(effect) {}
    virtual ~AEffEditor() = default;

    // Answers 0 and no rectangle; an editor with a window size overrides this.
    virtual int32_t getRect(ERect** rect) {
        if (rect) *rect = nullptr;
        return 0;
    }
    virtual int32_t open(void* ptr) {
        systemWindow = ptr;
        return 0;
    }
    virtual void close() {}
    // User-interface thread.
    virtual void idle() {
        if (updateFlag.exchange(0, std::memory_order_acquire)) update();
    }
    virtual void update() {}
    // Any thread: the effect forwards parameter changes from wherever the host makes them.
    virtual void postUpdate() { updateFlag.store(1, std::memory_order_release); }
    virtual int32_t onKeyDown(VstKeyCode& /*keyCode*/) { return -1; }
    virtual int32_t onKeyUp(VstKeyCode& /*keyCode*/) { return -1; }
    virtual int32_t setKnobMode(int /*val*/) { return 0; }
    virtual bool onWheel(float /*distance*/) { return false; }

    // Effect-side notifications; the concrete editor gives them meaning. setParameter may come
    // from any thread (see audioeffect.h); an editor that touches its views there must defer
    // that work to idle.
    virtual void setParameter(int32_t /*index*/, float /*value*/) { postUpdate(); }
    virtual void resume() {}
    virtual void suspend() {}
    // True while the editor wants the host's keystrokes (a field is being edited).
    virtual bool keysRequired() { return false; }

    AudioEffect* getEffect() const { return effect; }
    void* getSystemWindow() const { return systemWindow; }

protected:
    AudioEffect* effect = nullptr;
    void* systemWindow = nullptr;
    std::atomic<int32_t> updateFlag{0};
};
