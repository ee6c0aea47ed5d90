// editor-harness: a small stand-alone host for looking at a VST2 plug-in's editor on X11. Loads
// the library through its entry point, opens the editor inside a window of its own, idles it at
// 25 Hz, and can save a picture of it.
//   editor-harness PLUGIN.so [--seconds N] [--screenshot FILE.png]
#include "host/aeffect.h"

#include "platform/window.h"
#include "testkit/x11_host.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

testkit::x11host::HostWindow* gHost = nullptr;

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t index, intptr_t value, void* ptr, float) {
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterCurrentId: return 0;
    case audioMasterGetSampleRate: return 44100;
    case audioMasterGetBlockSize: return 512;
    case audioMasterCanDo: return ptr && std::strcmp(static_cast<const char*>(ptr), "sizeWindow") == 0 ? 1 : 0;
    case audioMasterSizeWindow:
        return testkit::x11host::resize(gHost, index, static_cast<int32_t>(value)) ? 1 : 0;
    case audioMasterGetVendorString:
        if (ptr) std::snprintf(static_cast<char*>(ptr), 64, "Corvex");
        return 1;
    case audioMasterGetProductString:
        if (ptr) std::snprintf(static_cast<char*>(ptr), 64, "editor-harness");
        return 1;
    case audioMasterGetCurrentProcessLevel: return 1;  // user interface thread
    default: return 0;
    }
}

using Entry = AEffect* (*)(audioMasterCallback);

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    const char* screenshot = nullptr;
    double seconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) screenshot = argv[++i];
        else path = argv[i];
    }
    if (!path) {
        std::fprintf(stderr, "usage: editor-harness PLUGIN.so [--seconds N] [--screenshot FILE.png]\n");
        return 2;
    }
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "editor-harness: %s\n", dlerror());
        return 1;
    }
    auto entry = reinterpret_cast<Entry>(dlsym(lib, "VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<Entry>(dlsym(lib, "main"));
    AEffect* effect = entry ? entry(&hostCallback) : nullptr;
    if (!effect || effect->magic != kEffectMagic) {
        std::fprintf(stderr, "editor-harness: %s is not a VST2 plug-in\n", path);
        dlclose(lib);
        return 1;
    }
    auto dispatch = [&](int32_t op, int32_t index, intptr_t value, void* ptr, float opt) {
        return effect->dispatcher(effect, op, index, value, ptr, opt);
    };
    dispatch(effOpen, 0, 0, nullptr, 0);
    dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    dispatch(effSetBlockSize, 0, 512, nullptr, 0);
    dispatch(effMainsChanged, 0, 1, nullptr, 0);
    int status = 0;
    if (!(effect->flags & effFlagsHasEditor)) {
        std::fprintf(stderr, "editor-harness: the plug-in has no editor\n");
        status = 1;
    } else {
        ERect* rect = nullptr;
        dispatch(effEditGetRect, 0, 0, &rect, 0);
        int32_t width = rect ? rect->right - rect->left : 0, height = rect ? rect->bottom - rect->top : 0;
        if (width <= 0 || height <= 0) {
            width = 640;
            height = 480;
        }
        gHost = testkit::x11host::create(width, height, "editor-harness");
        if (!gHost) {
            std::fprintf(stderr, "editor-harness: no X display\n");
            status = 1;
        } else {
            dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(testkit::x11host::handle(gHost)), 0);
            // Some editors report their size only once open.
            rect = nullptr;
            dispatch(effEditGetRect, 0, 0, &rect, 0);
            if (rect && rect->right - rect->left > 0 && rect->bottom - rect->top > 0)
                testkit::x11host::resize(gHost, rect->right - rect->left, rect->bottom - rect->top);
            std::printf("editor-harness: editor %d x %d\n", rect ? rect->right - rect->left : 0,
                        rect ? rect->bottom - rect->top : 0);
            const uint32_t start = platform::ticks();
            while (testkit::x11host::pump(gHost)) {
                dispatch(effEditIdle, 0, 0, nullptr, 0);
                if (seconds > 0 && platform::ticks() - start >= static_cast<uint32_t>(seconds * 1000)) break;
                platform::sleepMs(40);  // 25 Hz, like Ardour
            }
            if (screenshot) {
                if (testkit::x11host::screenshot(testkit::x11host::handle(gHost), screenshot))
                    std::printf("editor-harness: wrote %s\n", screenshot);
                else {
                    std::fprintf(stderr, "editor-harness: cannot write %s\n", screenshot);
                    status = 1;
                }
            }
            dispatch(effEditClose, 0, 0, nullptr, 0);
            testkit::x11host::destroy(gHost);
            gHost = nullptr;
        }
    }
    dispatch(effMainsChanged, 0, 0, nullptr, 0);
    dispatch(effClose, 0, 0, nullptr, 0);
    dlclose(lib);
    return status;
}
