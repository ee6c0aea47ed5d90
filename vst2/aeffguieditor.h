// SPDX-License-Identifier: GPL-3.0-or-later
// AEffGUIEditor: binds the plug-in interface's editor to the GUI toolkit. It owns the frame while
// the window is open, forwards keys and the wheel to it, drives its idle work (throttled while a
// control tracks the mouse) and holds the process-wide knob mode. A concrete editor derives from
// it, calls its open first and then builds the frame.
#pragma once

#include "gui/frame.h"
#include "host/aeffeditor.h"

// A host's key as the toolkit's: the named keys the toolkit uses, the keypad, the modifiers
// (Shift; the two control keys as Control; Alternate as Alt). Other named keys come as unknown.
gui::CKeyCode toToolkitKey(const VstKeyCode& key);

class AEffGUIEditor : public AEffEditor, public gui::CFrameOwner {
public:
    explicit AEffGUIEditor(AudioEffect* effect);
    ~AEffGUIEditor() override;

    int32_t getRect(ERect** rect) override;
    int32_t open(void* ptr) override;
    void idle() override;
    int32_t setKnobMode(int val) override;
    int32_t onKeyDown(VstKeyCode& keyCode) override;
    int32_t onKeyUp(VstKeyCode& keyCode) override;
    bool onWheel(float distance) override;
    void setParameter(int32_t index, float value) override;
    // True while a text field's edit box is open: the host should send its keys.
    bool keysRequired() override;
    virtual void draw(ERect* rect);
    // A full idle pass at most every 100 ms; calls in between sleep 4 ms or return at once.
    void doIdleStuff() override;

    static int32_t getKnobModeStatic() { return knobMode; }
    int32_t getKnobMode() const override { return knobMode; }
    void wait(uint32_t ms);
    uint32_t getTicks() override;
    int32_t getGuiVersion() const { return 0x20002; }
    gui::CFrame* getFrame() const { return frame; }

    // gui::CFrameOwner: the frame's requests, passed to the effect and its host.
    void beginEdit(int32_t index) override;
    void endEdit(int32_t index) override;
    bool sizeWindow(int32_t width, int32_t height) override;
    platform::NativeWindow openWindow(gui::CWindowRecord& record) override;
    bool closeWindow(gui::CWindowRecord& record) override;

protected:
    ERect rect{};
    gui::CFrame* frame = nullptr;
    uint32_t nextIdleTime = 0;
    bool inIdle = false;
    VstWindow hostWindow{};  // the record handed to the host in openWindow

    static int32_t knobMode;
};
