// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the in-memory control tests: a frame on the memory window system whose owner plays
// a scripted pointer path (one step per idle call of a tracking loop) and records edit notices.
#pragma once

#include "gui/control.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"

#include "platform/memory_window.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace controls_test {

struct Step {
    gui::CPoint where;
    uint32_t state;  // platform::kButton* | kMod*
};

class ScriptOwner : public gui::CFrameOwner {
public:
    void doIdleStuff() override {
        ++idles;
        if (next < script.size()) {
            platform::memory::setPointer({script[next].where.x, script[next].where.y});
            platform::memory::setState(script[next].state);
            ++next;
        } else {
            platform::memory::setState(0);  // the script is over: the button goes up
        }
    }
    uint32_t getTicks() override { return platform::ticks(); }
    int32_t getKnobMode() const override { return knobMode; }
    bool tracksInIdle() const override { return inIdle; }
    void beginEdit(int32_t index) override { edits.push_back("begin " + std::to_string(index)); }
    void endEdit(int32_t index) override { edits.push_back("end " + std::to_string(index)); }

    std::vector<Step> script;
    size_t next = 0;
    int idles = 0;
    int32_t knobMode = 0;
    bool inIdle = false;  // drags follow the frame's idle calls instead of looping
    std::vector<std::string> edits;
};

class Recorder : public gui::CControlListener {
public:
    void valueChanged(gui::CDrawContext* context, gui::CControl* control) override {
        values.push_back(control->getValue());
        withContext += context ? 1 : 0;
        tags.push_back(control->getTag());
    }
    std::vector<float> values;
    std::vector<int32_t> tags;
    int withContext = 0;
};

// A frame 300 x 200 inside a memory host window at the screen origin.
struct MemoryFrame {
    MemoryFrame() {
        platform::memory::reset();
        host = platform::memory::createHostWindow({0, 0, 400, 300});
        frame = new gui::CFrame(gui::CRect(0, 0, 300, 200), reinterpret_cast<void*>(host), &owner);
    }
    ~MemoryFrame() { delete frame; }
    MemoryFrame(const MemoryFrame&) = delete;
    MemoryFrame& operator=(const MemoryFrame&) = delete;

    // A press at where with the given state, routed through the frame as the window would.
    void click(gui::CPoint where, uint32_t state) {
        platform::memory::setPointer({where.x, where.y});
        platform::memory::setState(state);
        // The press is of the button the state holds (left when none): the window system
        // records the pressed button with the press.
        const int button = (state & platform::kButtonLeft)     ? 1
                           : (state & platform::kButtonRight)  ? 3
                           : (state & platform::kButtonMiddle) ? 2
                                                               : 1;
        platform::memory::postButtonDown(frame->getSystemWindow(), {where.x, where.y}, button);
        platform::pumpEvents(frame->getSystemWindow(), false);
        platform::memory::setState(0);
    }

    ScriptOwner owner;
    platform::NativeWindow host = 0;
    gui::CFrame* frame = nullptr;
};

}  // namespace controls_test
