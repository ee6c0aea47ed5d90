// Loads the built plug-in the way a host does: dlopen, look up the entry point, call it.
#pragma once

#include "host/aeffect.h"

#include <string>

class LoadedPlugin {
public:
    explicit LoadedPlugin(const std::string& path = CORVEX_PLUGIN_PATH);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    using Entry = AEffect* (*)(audioMasterCallback);
    Entry entry() const { return entry_; }
    void* symbol(const char* name) const;
    void* handle() const { return handle_; }
    std::string error() const { return error_; }

private:
    void* handle_ = nullptr;
    Entry entry_ = nullptr;
    std::string error_;
};

// Convenience wrappers over the record's dispatcher.
inline intptr_t dispatch(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                         void* ptr = nullptr, float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}
std::string dispatchText(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0);
