// The library's entry point and load hook.
#include "audioeffect.h"
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

extern "C" AEffect* main_plugin(audioMasterCallback audioMaster) {
    if (!audioMaster) return nullptr;
    // A host answering 0 predates the interface this effect needs.
    if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    AudioEffect* effect = createEffectInstance(audioMaster);
    return effect ? effect->getAeffect() : nullptr;
}
