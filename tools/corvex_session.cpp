// corvex-session: runs the scripted host session against a plug-in and writes what it answered.
// The Linux build writes its record beside the plug-in; the Windows host check compares the DLLs'
// answers and samples with it.
//   corvex-session PLUGIN.so OUTPUT.txt
#include "testkit/host_session.h"

#include <dlfcn.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: corvex-session PLUGIN.so OUTPUT.txt\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "corvex-session: cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    auto pluginMain = reinterpret_cast<session::PluginMain>(dlsym(library, "main"));
    if (!pluginMain) {
        std::fprintf(stderr, "corvex-session: %s exports no entry point\n", argv[1]);
        return 1;
    }
    const std::string text = session::format(session::record(pluginMain));
    FILE* out = std::fopen(argv[2], "wb");
    const bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out && std::fclose(out) != 0) return 1;
    if (!written) {
        std::fprintf(stderr, "corvex-session: cannot write %s\n", argv[2]);
        return 1;
    }
    dlclose(library);
    return 0;
}
