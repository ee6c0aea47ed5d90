// SPDX-License-Identifier: GPL-3.0-or-later
// editor-reference: opens the Corvex window as the plug-in builds it, on the in-memory window
// system with this build's raster, and writes what it shows as DIR/editor.bmp, with the places of
// its knobs, labels and fields (kind, tag or -1, window coordinates with right and bottom
// exclusive) in
// DIR/editor-layout.txt: the reference the Windows editor's pixels are compared with. The window at
// 2x (CORVEX_SCALE=2), 1200 x 700 device pixels, goes to DIR/editor-2x.bmp; the layout is the same
// in design units.
//   editor-reference DIR
#include "raster_cases.h"

#include "vst2/corvex_editor.h"
#include "window/knob_arc.h"
#include "window/label.h"
#include "gui/control.h"
#include "gui/frame.h"
#include "gui/textedit.h"
#include "plugin/plugin_factory.h"
#include "platform/memory_window.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A view's rectangle in the window: its parent container's origin added.
void place(FILE* out, const char* kind, gui::CView* view) {
    auto* control = dynamic_cast<gui::CControl*>(view);
    gui::CRect r;
    view->getViewSize(r);
    gui::CPoint origin(0, 0);
    if (gui::CView* parent = view->getParentView()) {
        gui::CRect p;
        parent->getViewSize(p);
        origin = gui::CPoint(p.left, p.top);
    }
    std::fprintf(out, "%s %d %d %d %d %d\n", kind, control ? control->getTag() : -1,
                 r.left + origin.x, r.top + origin.y, r.right + origin.x, r.bottom + origin.y);
}

void listControls(FILE* out, gui::CView* v) {
    if (dynamic_cast<CKnobArc*>(v)) place(out, "knob", v);
    else if (dynamic_cast<gui::CTextEdit*>(v)) place(out, "field", v);
    else if (dynamic_cast<CLabel*>(v)) place(out, "label", v);
    else if (auto* container = dynamic_cast<gui::CViewContainer*>(v))
        for (int32_t j = 0; j < container->getNbViews(); ++j)
            listControls(out, container->getView(j));
}

// Opens the window at scale, writes what it shows as image and, unless null, its layout.
bool render(int32_t scale, const std::string& image, const std::string* layoutPath) {
    setenv("CORVEX_SCALE", std::to_string(scale).c_str(), 1);
    platform::memory::reset();
    const platform::NativeWindow host =
        platform::memory::createHostWindow({0, 0, 600 * scale, 350 * scale});
    AudioEffect* effect = createEffectInstance(&hostCallback);
    auto* editor = effect ? dynamic_cast<CorvexEditor*>(effect->getEditor()) : nullptr;
    if (!editor) return false;
    AEffect* record = effect->getAeffect();
    record->dispatcher(record, effOpen, 0, 0, nullptr, 0);
    record->dispatcher(record, effEditOpen, 0, 0, reinterpret_cast<void*>(host), 0);
    platform::Window* window = editor->getFrame()->getSystemWindow();
    platform::memory::postPaint(window, {0, 0, 600 * scale, 350 * scale});
    record->dispatcher(record, effEditIdle, 0, 0, nullptr, 0);
    bool ok = raster_cases::writeBmp(platform::memory::windowImage(window), image,
                                     platform::windowScale(window));
    FILE* out = layoutPath ? std::fopen(layoutPath->c_str(), "w") : nullptr;
    ok = ok && (out || !layoutPath);
    if (out) {
        // Every control in the tree, by kind (the title and maker line are labels too).
        gui::CFrame* frame = editor->getFrame();
        for (int32_t i = 0; i < frame->getNbViews(); ++i) listControls(out, frame->getView(i));
        ok = std::fclose(out) == 0 && ok;
    }
    record->dispatcher(record, effEditClose, 0, 0, nullptr, 0);
    record->dispatcher(record, effClose, 0, 0, nullptr, 0);
    unsetenv("CORVEX_SCALE");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: editor-reference DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string layout = dir + "/editor-layout.txt";
    const bool ok =
        render(1, dir + "/editor.bmp", &layout) && render(2, dir + "/editor-2x.bmp", nullptr);
    if (!ok) std::fprintf(stderr, "editor-reference: cannot write into %s\n", dir.c_str());
    return ok ? 0 : 1;
}
