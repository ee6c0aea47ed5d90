// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the Corvex window on the in-memory window system, built by the plug-in's factory,
// fed random clicks and drags (with any buttons and modifiers), wheel turns, host keys, typing into
// edit boxes, drops of files and text, paints, parameter and program changes, and reopenings.
// Properties: no crash or sanitizer report; every drag ends; closing the editor leaves no window
// and no edit box alive.
#include "vst2/corvex_editor.h"
#include "fuzz_input.h"
#include "gui/frame.h"
#include "plugin/plugin_factory.h"

#include "platform/memory_window.h"

#include <string>
#include <vector>

namespace {

namespace mem = platform::memory;

std::vector<platform::Point> gPath;
std::size_t gStep = 0;

// The host's idle during a drag moves the pointer along the path, then lets the button go.
intptr_t fuzzHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterIdle:
        if (gStep < gPath.size()) mem::setPointer(gPath[gStep++]);
        else mem::setState(0);
        return 0;
    default: return 0;
    }
}

platform::Point point(FuzzInput& in) {
    return {static_cast<int32_t>(in.below(680)) - 40, static_cast<int32_t>(in.below(430)) - 40};
}

platform::Window* windowOf(AudioEffect* effect) {
    auto* editor = dynamic_cast<CorvexEditor*>(effect->getEditor());
    gui::CFrame* frame = editor ? editor->getFrame() : nullptr;
    return frame ? frame->getSystemWindow() : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    mem::reset();
    gPath.clear();
    gStep = 0;
    const platform::NativeWindow host = mem::createHostWindow({0, 0, 800, 600});
    AudioEffect* effect = createEffectInstance(&fuzzHost);
    if (!effect) return 0;
    AEffect* e = effect->getAeffect();
    auto dispatch = [e](int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                        float opt = 0.0f) { return e->dispatcher(e, op, index, value, ptr, opt); };
    dispatch(effOpen);
    bool open = dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)) != 0;
    for (int op = 0; op < 64 && !in.empty(); ++op) {
        platform::Window* window = open ? windowOf(effect) : nullptr;
        switch (in.u8() % 10) {
        case 0:
        case 1: {  // a click, maybe a drag
            if (!window) break;
            const platform::Point at = point(in);
            gPath.clear();
            gStep = 0;
            const int steps = static_cast<int>(in.below(12));
            for (int s = 0; s < steps; ++s) gPath.push_back(point(in));
            mem::setPointer(at);
            mem::setState(in.u8() & 0x3F);
            mem::postButtonDown(window, at, 1 + static_cast<int>(in.below(3)));
            dispatch(effEditIdle);
            mem::setState(0);
            break;
        }
        case 2: {  // the host's wheel message, or an unrelated vendor request
            mem::setPointer(point(in));
            const bool wheel = in.u8() < 200;
            dispatch(effVendorSpecific, wheel ? fourCharCode('s', 't', 'C', 'A') : in.i32(),
                     wheel ? fourCharCode('W', 'h', 'e', 'e') : in.i32(), nullptr,
                     in.interestingFloat());
            break;
        }
        case 3: {  // keys the host kept
            const int32_t character = in.boolean() ? in.u8() : in.interestingInt();
            const intptr_t virt = in.u8();
            const float modifier = in.interestingFloat();
            dispatch(in.boolean() ? effEditKeyDown : effEditKeyUp, character, virt, nullptr,
                     modifier);
            break;
        }
        case 4: {  // typing into an open edit box
            platform::EditBox* box = window ? mem::editBoxOf(window) : nullptr;
            if (!box) break;
            const uint8_t what = in.u8();
            if (what < 100) {
                const std::string typed = in.text(64);
                mem::editBoxType(box, typed.c_str());
            } else if (what < 200) {
                platform::EditKeyInput key;
                key.key = static_cast<platform::EditKey>(in.below(14));
                key.shift = in.boolean();
                const std::string text = in.text(32);
                key.text = text.c_str();
                platform::editBoxKey(box, key);
            } else mem::editBoxFocusOut(box);
            break;
        }
        case 5: {  // a drop of files or text
            if (!window) break;
            std::vector<std::string> items;
            const int n = 1 + static_cast<int>(in.below(4));
            for (int i = 0; i < n; ++i) items.push_back(in.text(300));
            mem::setPointer(point(in));
            mem::postDrop(
                window, in.boolean() ? platform::DropKind::files : platform::DropKind::text, items);
            dispatch(effEditIdle);
            break;
        }
        case 6: {  // the host changes a parameter or the program
            if (in.boolean())
                e->setParameter(
                    e, in.boolean() ? static_cast<int32_t>(in.below(14)) : in.interestingInt(),
                    in.interestingFloat());
            else dispatch(effSetProgram, 0, in.boolean() ? in.below(64) : in.interestingInt());
            break;
        }
        case 7:  // paints and idles
            if (window) {
                const platform::Point a = point(in), b = point(in);
                mem::postPaint(window, {a.x, a.y, b.x, b.y});
            }
            mem::setTicks(in.u32());
            dispatch(effEditIdle);
            break;
        case 8:  // close and open again
            dispatch(effEditClose);
            FUZZ_CHECK(mem::liveEditBoxes() == 0);
            open = dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host)) != 0;
            break;
        default: dispatch(effEditIdle); break;
        }
    }
    dispatch(effEditClose);
    FUZZ_CHECK(mem::liveEditBoxes() == 0);
    FUZZ_CHECK(mem::liveWindows() == 0);
    dispatch(effClose);
    return 0;
}
