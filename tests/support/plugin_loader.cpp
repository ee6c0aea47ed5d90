#include "plugin_loader.h"

#include <dlfcn.h>

#include <cstring>

LoadedPlugin::LoadedPlugin(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        error_ = dlerror();
        return;
    }
    entry_ = reinterpret_cast<Entry>(dlsym(handle_, "VSTPluginMain"));
    if (!entry_) entry_ = reinterpret_cast<Entry>(dlsym(handle_, "main"));
}

LoadedPlugin::~LoadedPlugin() {
    if (handle_) dlclose(handle_);
}

void* LoadedPlugin::symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

std::string dispatchText(AEffect* e, int32_t opcode, int32_t index, intptr_t value) {
    char buffer[256];
    std::memset(buffer, 0x7F, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    dispatch(e, opcode, index, value, buffer);
    return buffer;
}
