// SPDX-License-Identifier: GPL-3.0-or-later
// The editor both editor test families open, and the host their effects get: an AEffGUIEditor of a
// given size whose frame fills it, with a hook for the views a test puts in, driven for a Corvex
// effect whose host answers only the version request.
#pragma once

#include "vst2/aeffguieditor.h"
#include "gui/frame.h"
#include "hostkit/host_answers.h"

namespace testsupport {

// The host callback of the effects under test.
inline constexpr audioMasterCallback kEditorTestHost = &hostkit::versionOnlyHost;

class TestEditor : public AEffGUIEditor {
public:
    // Owned by the effect from construction on.
    TestEditor(AudioEffect* effect, int16_t width, int16_t height) : AEffGUIEditor(effect) {
        rect.right = width;
        rect.bottom = height;
    }
    int32_t open(void* ptr) override {
        AEffGUIEditor::open(ptr);
        frame = new gui::CFrame(gui::CRect(0, 0, rect.right, rect.bottom), ptr, this);
        populate(frame);
        return 1;
    }
    // dispose, not delete: a test's view may close the editor from inside its own handler.
    void close() override {
        if (frame) frame->dispose();
        frame = nullptr;
    }

protected:
    // Adds a test's views to the freshly opened frame.
    virtual void populate(gui::CFrame* /*frame*/) {}
};

}  // namespace testsupport
