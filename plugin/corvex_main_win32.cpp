// SPDX-License-Identifier: GPL-3.0-or-later
// The library's entry point and load hook on Windows (Linux: corvex_main.cpp).
//
// Declared with plain types so that no Windows header enters the host interface: BOOL is int,
// HINSTANCE a pointer, DWORD a 32-bit unsigned long, WINAPI __stdcall.
#include "host/audioeffect.h"
#include "plugin_factory.h"

// The loader calls this on process and thread attach and detach; the module handle is the same
// every time and must be in place before the editor looks up its bitmap or window class.
extern "C" int __stdcall DllMain(void* module, unsigned long /*reason*/, void* /*reserved*/) {
    setInstance(module);
    return 1;
}

// Exported as "main" by corvex.def; the C++ name avoids clashing with a program's main.
extern "C" AEffect* main_plugin(audioMasterCallback audioMaster) { return openPlugin(audioMaster); }
