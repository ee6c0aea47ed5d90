// corvex-info: loads a VST2 plug-in the way a host does and lists its identity, programs and
// parameters with their current display texts.
#include "aeffect.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::string text(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0) {
    char buffer[256] = {};
    e->dispatcher(e, opcode, index, value, buffer, 0.0f);
    return buffer;
}

} // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "";
    if (path.empty()) {
        // The plug-in built beside this tool.
        std::string self = argv[0];
        const auto slash = self.find_last_of('/');
        path = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/corvex.so";
    }
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "corvex-info: cannot load %s: %s\n", path.c_str(), dlerror());
        return 1;
    }
    using Entry = AEffect* (*)(audioMasterCallback);
    auto entry = reinterpret_cast<Entry>(dlsym(library, "VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<Entry>(dlsym(library, "main"));
    if (!entry) {
        std::fprintf(stderr, "corvex-info: %s is not a VST2 plug-in (no entry point)\n", path.c_str());
        return 1;
    }
    AEffect* e = entry(hostCallback);
    if (!e || e->magic != kEffectMagic) {
        std::fprintf(stderr, "corvex-info: %s did not create an effect\n", path.c_str());
        return 1;
    }
    e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    std::printf("%s by %s (%d programs, %d parameters, %d outputs)\n",
                text(e, effGetEffectName).c_str(), text(e, effGetVendorString).c_str(),
                e->numPrograms, e->numParams, e->numOutputs);
    std::printf("\nPrograms:\n");
    for (int32_t i = 0; i < e->numPrograms; ++i)
        std::printf("  %2d  %s\n", i, text(e, effGetProgramNameIndexed, i).c_str());
    std::printf("\nParameters (program %d):\n", static_cast<int>(e->dispatcher(e, effGetProgram, 0, 0, nullptr, 0.0f)));
    for (int32_t i = 0; i < e->numParams; ++i)
        std::printf("  %2d  %-10s %s\n", i, text(e, effGetParamName, i).c_str(),
                    text(e, effGetParamDisplay, i).c_str());
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    dlclose(library);
    return 0;
}
