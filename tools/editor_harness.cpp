// SPDX-License-Identifier: GPL-3.0-or-later
// editor-harness: a small stand-alone host for looking at a VST2 plug-in's editor on X11. Loads
// the library through its entry point, opens the editor inside a window of its own, idles it at
// 25 Hz, and can save a picture of it.
//   editor-harness PLUGIN.so [--seconds N] [--screenshot FILE.png]
#include "hostkit/plugin.h"
#include "platform/window.h"
#include "testkit/x11_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

testkit::x11host::HostWindow* gHost = nullptr;

// What this host adds to the kit's standard answers: it resizes its window on request and calls
// the editor from the user-interface thread.
std::optional<intptr_t> harnessAnswers(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                       float) {
    switch (opcode) {
    case audioMasterCanDo:
        if (ptr && std::strcmp(static_cast<const char*>(ptr), "sizeWindow") == 0) return 1;
        return std::nullopt;
    case audioMasterSizeWindow:
        return testkit::x11host::resize(gHost, index, static_cast<int32_t>(value)) ? 1 : 0;
    case audioMasterGetProductString:
        if (ptr) std::snprintf(static_cast<char*>(ptr), 64, "editor-harness");
        return 1;
    case audioMasterGetCurrentProcessLevel: return 1;  // user interface thread
    default: return std::nullopt;
    }
}

int runEditor(hostkit::Plugin& plugin, double seconds, const char* screenshot) {
    if (!(plugin.effect()->flags & effFlagsHasEditor)) {
        std::fprintf(stderr, "editor-harness: the plug-in has no editor\n");
        return 1;
    }
    ERect* rect = nullptr;
    plugin.dispatch(effEditGetRect, 0, 0, &rect);
    int32_t width = rect ? rect->right - rect->left : 0,
            height = rect ? rect->bottom - rect->top : 0;
    if (width <= 0 || height <= 0) {
        width = 640;
        height = 480;
    }
    gHost = testkit::x11host::create(width, height, "editor-harness");
    if (!gHost) {
        std::fprintf(stderr, "editor-harness: no X display\n");
        return 1;
    }
    int status = 0;
    plugin.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(testkit::x11host::handle(gHost)));
    // Some editors report their size only once open.
    rect = nullptr;
    plugin.dispatch(effEditGetRect, 0, 0, &rect);
    if (rect && rect->right - rect->left > 0 && rect->bottom - rect->top > 0)
        testkit::x11host::resize(gHost, rect->right - rect->left, rect->bottom - rect->top);
    std::printf("editor-harness: editor %d x %d\n", rect ? rect->right - rect->left : 0,
                rect ? rect->bottom - rect->top : 0);
    const uint32_t start = platform::ticks();
    while (testkit::x11host::pump(gHost)) {
        plugin.dispatch(effEditIdle);
        if (seconds > 0 && platform::ticks() - start >= static_cast<uint32_t>(seconds * 1000))
            break;
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
    plugin.dispatch(effEditClose);
    testkit::x11host::destroy(gHost);
    gHost = nullptr;
    return status;
}

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
        std::fprintf(stderr,
                     "usage: editor-harness PLUGIN.so [--seconds N] [--screenshot FILE.png]\n");
        return 2;
    }
    try {
        const hostkit::Library library(path);
        hostkit::Plugin plugin(library, harnessAnswers);
        plugin.open(44100.0, 512);
        // Switched on without starting the audio stream: nothing is processed here.
        plugin.dispatch(effMainsChanged, 0, 1);
        const int status = runEditor(plugin, seconds, screenshot);
        plugin.dispatch(effMainsChanged, 0, 0);
        return status;
    } catch (const hostkit::HostError& e) {
        std::fprintf(stderr, "editor-harness: %s\n", e.what());
        return 1;
    }
}
