// SPDX-License-Identifier: GPL-3.0-or-later
// Plug-in loading and the host side of the effect record.
#include "hostkit/plugin.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace hostkit {

namespace {

// The instance whose code is running on this thread. A plug-in may call back during its entry
// point, before it has a record to identify itself by, so the host recognises it by who called.
thread_local Plugin* activePlugin = nullptr;

class ActiveScope {
public:
    explicit ActiveScope(Plugin* plugin) : previous(activePlugin) { activePlugin = plugin; }
    ~ActiveScope() { activePlugin = previous; }
    ActiveScope(const ActiveScope&) = delete;
    ActiveScope& operator=(const ActiveScope&) = delete;

private:
    Plugin* previous;
};

// Plug-ins write names of up to a few dozen bytes; the buffer is far larger so a careless one
// cannot overrun it, and the last byte is forced to a terminator afterwards.
constexpr std::size_t kTextBuffer = 1024;

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void copyOut(void* ptr, const char* text, std::size_t capacity) {
    if (!ptr) return;
    auto* dst = static_cast<char*>(ptr);
    std::size_t n = std::strlen(text);
    if (n >= capacity) n = capacity - 1;
    std::memcpy(dst, text, n);
    dst[n] = '\0';
}

std::string executableDir() {
    std::array<char, 4096> buf{};
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string self(buf.data(), static_cast<std::size_t>(n));
    const auto slash = self.find_last_of('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash);
}

}  // namespace

// ---- Library ------------------------------------------------------------------------------

Library::Library(const std::string& path) : filePath(path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw HostError("plug-in " + path + " not found");
    if (!S_ISREG(st.st_mode)) throw HostError("plug-in " + path + " is not a file");
    // A name without a slash would make dlopen search the library path instead of this file.
    const std::string loadPath = path.find('/') == std::string::npos ? "./" + path : path;
    handle = ::dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        throw HostError("cannot load " + path + ": " + (why ? why : "unknown error"));
    }
    for (const char* name : {"VSTPluginMain", "main"}) {
        if (void* symbol = ::dlsym(handle, name)) {
            entryPoint = reinterpret_cast<Entry>(symbol);
            entrySymbol = name;
            return;
        }
    }
    ::dlclose(handle);
    throw HostError(path + " is not a VST plug-in: it exports neither VSTPluginMain nor main");
}

Library::~Library() {
    if (handle) ::dlclose(handle);
}

void* Library::symbol(const char* name) const { return name ? ::dlsym(handle, name) : nullptr; }

// ---- Plugin -------------------------------------------------------------------------------

Plugin::Plugin(const Library& library, Answers ownAnswers) : answers(std::move(ownAnswers)) {
    {
        ActiveScope scope(this);
        record = library.entry()(&hostCallback);
    }
    const std::string& path = library.path();
    if (!record) throw HostError(path + ": the plug-in's entry point returned no effect");
    if (record->magic != kEffectMagic) {
        // Without the magic nothing else in the record can be trusted, not even its dispatcher.
        record = nullptr;
        throw HostError(path + " is not a VST plug-in: its effect record has the wrong magic");
    }
    auto reject = [&](const std::string& why) {
        {
            ActiveScope scope(this);
            record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
        }
        record = nullptr;
        throw HostError(path + ": " + why);
    };
    if (!record->dispatcher) {
        record = nullptr;
        throw HostError(path + ": the effect record has no dispatcher");
    }
    if (record->numOutputs < 0 || record->numOutputs > kMaxChannels || record->numInputs < 0 ||
        record->numInputs > kMaxChannels)
        reject("the plug-in reports an implausible number of audio channels");
    if (record->numParams < 0 || record->numParams > kMaxParameters || record->numPrograms < 0 ||
        record->numPrograms > kMaxPrograms)
        reject("the plug-in reports an implausible number of parameters or programs");
    if (!record->processReplacing && !record->process) reject("the plug-in has no process call");
}

Plugin::~Plugin() {
    if (!record) return;
    stop();
    dispatch(effClose);
    record = nullptr;
}

intptr_t Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    ActiveScope scope(this);
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

void Plugin::open(double sampleRate, int32_t blockSize) {
    rate = sampleRate;
    block = blockSize;
    if (!isOpen) {
        dispatch(effOpen);
        isOpen = true;
    }
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(effSetBlockSize, 0, blockSize);
}

void Plugin::start() {
    if (isRunning) return;
    dispatch(effMainsChanged, 0, 1);
    dispatch(effStartProcess);
    isRunning = true;
}

void Plugin::stop() {
    if (!isRunning) return;
    dispatch(effStopProcess);
    dispatch(effMainsChanged, 0, 0);
    isRunning = false;
}

bool Plugin::usesReplacing() const {
    return record->processReplacing &&
           ((record->flags & effFlagsCanReplacing) != 0 || !record->process);
}

std::string Plugin::text(int32_t opcode, int32_t index) {
    std::array<char, kTextBuffer> buf{};
    dispatch(opcode, index, 0, buf.data());
    buf.back() = '\0';
    return buf.data();
}

std::string Plugin::effectName() { return text(effGetEffectName); }
std::string Plugin::vendorName() { return text(effGetVendorString); }
std::string Plugin::productName() { return text(effGetProductString); }

int32_t Plugin::currentProgram() { return static_cast<int32_t>(dispatch(effGetProgram)); }

void Plugin::setProgram(int32_t index) {
    dispatch(effBeginSetProgram);
    dispatch(effSetProgram, 0, index);
    dispatch(effEndSetProgram);
}

std::string Plugin::programName(int32_t index) {
    std::array<char, kTextBuffer> buf{};
    if (dispatch(effGetProgramNameIndexed, index, 0, buf.data()) != 0) {
        buf.back() = '\0';
        return buf.data();
    }
    const int32_t current = currentProgram();
    if (index == current) return text(effGetProgramName);
    setProgram(index);
    std::string name = text(effGetProgramName);
    setProgram(current);
    return name;
}

std::string Plugin::paramName(int32_t index) { return text(effGetParamName, index); }
std::string Plugin::paramDisplay(int32_t index) { return text(effGetParamDisplay, index); }
std::string Plugin::paramLabel(int32_t index) { return text(effGetParamLabel, index); }

float Plugin::getParameter(int32_t index) {
    if (!record->getParameter) return 0.0f;
    ActiveScope scope(this);
    return record->getParameter(record, index);
}

void Plugin::setParameter(int32_t index, float value) {
    if (!record->setParameter) return;
    ActiveScope scope(this);
    record->setParameter(record, index, value);
}

void Plugin::processEvents(VstEvents* events) { dispatch(effProcessEvents, 0, 0, events); }

void Plugin::process(float** inputs, float** outputs, int32_t frames) {
    ActiveScope scope(this);
    if (usesReplacing()) {
        record->processReplacing(record, inputs, outputs, frames);
        return;
    }
    // The accumulating call adds to what is in the buffers.
    for (int32_t c = 0; c < record->numOutputs; ++c)
        std::memset(outputs[c], 0, sizeof(float) * static_cast<std::size_t>(frames));
    record->process(record, inputs, outputs, frames);
}

// ---- The host callback ------------------------------------------------------------------

intptr_t hostCallback(AEffect* /*effect*/, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                      float opt) {
    const Plugin* plugin = activePlugin;
    if (plugin && plugin->ownAnswers()) {
        if (const std::optional<intptr_t> answer =
                plugin->ownAnswers()(opcode, index, value, ptr, opt))
            return *answer;
    }
    switch (opcode) {
    case audioMasterVersion: return kHostVstVersion;
    // We deliver MIDI to every plug-in; asking for it is welcome.
    case audioMasterWantMidi: return 1;
    case audioMasterGetSampleRate: return plugin ? static_cast<intptr_t>(plugin->sampleRate()) : 0;
    case audioMasterGetBlockSize: return plugin ? plugin->blockSize() : 0;
    case audioMasterGetVendorString: copyOut(ptr, kHostVendor, 64); return 1;
    case audioMasterGetProductString: copyOut(ptr, kHostProduct, 64); return 1;
    case audioMasterGetVendorVersion: return 1000;
    case audioMasterCanDo: {
        if (!ptr) return 0;
        const char* what = static_cast<const char*>(ptr);
        return std::strcmp(what, "sendVstEvents") == 0 || std::strcmp(what, "sendVstMidiEvent") == 0
                   ? 1
                   : 0;
    }
    // Everything else (time info, automation, windows, offline passes, ...) is not served.
    default: return 0;
    }
}

// ---- Finding plug-ins ---------------------------------------------------------------------

std::vector<std::string> pluginSearchPath() {
    std::vector<std::string> dirs;
    if (const char* env = std::getenv("LXVST_PATH")) {
        std::string all = env;
        std::size_t start = 0;
        while (start <= all.size()) {
            const auto colon = all.find(':', start);
            const auto end = colon == std::string::npos ? all.size() : colon;
            if (end > start) dirs.push_back(all.substr(start, end - start));
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
    }
    if (const char* home = std::getenv("HOME"); home && *home)
        dirs.push_back(std::string(home) + "/.vst");
    dirs.emplace_back("/usr/local/lib/vst");
    dirs.emplace_back("/usr/lib/vst");
    return dirs;
}

std::string findDefaultPlugin() {
    if (const std::string dir = executableDir(); !dir.empty()) {
        if (isRegularFile(dir + "/corvex.so")) return dir + "/corvex.so";
    }
    for (const auto& dir : pluginSearchPath())
        if (isRegularFile(dir + "/corvex.so")) return dir + "/corvex.so";
    return {};
}

std::string resolvePluginPath(const std::string& nameOrPath) {
    if (nameOrPath.empty() || isRegularFile(nameOrPath) ||
        nameOrPath.find('/') != std::string::npos)
        return nameOrPath;
    const bool hasSuffix =
        nameOrPath.size() > 3 && nameOrPath.compare(nameOrPath.size() - 3, 3, ".so") == 0;
    for (const auto& dir : pluginSearchPath()) {
        std::string candidate = dir;
        candidate.append("/").append(nameOrPath);
        if (isRegularFile(candidate)) return candidate;
        if (hasSuffix) continue;
        candidate.append(".so");
        if (isRegularFile(candidate)) return candidate;
    }
    return nameOrPath;
}

}  // namespace hostkit
