// SPDX-License-Identifier: GPL-3.0-or-later
// The library's entry point and load hook on Linux (Windows: corvex_main_win32.cpp).
#include "host/audioeffect.h"
#include "plugin_factory.h"

#include <dlfcn.h>

// Records the loaded library as the module handle, before any host call can need it.
__attribute__((constructor)) static void onLibraryLoad() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&onLibraryLoad), &info) != 0) setInstance(info.dli_fbase);
}

// Exported as "main", the name hosts look up; the C++ name avoids clashing with a program's main.
extern "C" __attribute__((visibility("default"))) AEffect*
main_plugin(audioMasterCallback audioMaster) __asm__("main");

extern "C" AEffect* main_plugin(audioMasterCallback audioMaster) { return openPlugin(audioMaster); }
