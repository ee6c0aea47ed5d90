// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a Linux VST 2.x plug-in and driving its effect record as a host does.
//
// Everything here runs on the caller's thread; a Plugin is not shared between threads. Errors
// are reported as HostError exceptions carrying a message fit for the user; no exception ever
// crosses into plug-in code.
#pragma once

#include "host/aeffect.h"
#include "hostkit/host_answers.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostkit {

class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The answers our host gives to the plug-in's requests (the version: host_answers.h).
constexpr const char* kHostVendor = "Corvex";
constexpr const char* kHostProduct = "corvex-render";

// Bounds on what a record may claim before we refuse to trust it.
constexpr int32_t kMaxChannels = 64;
constexpr int32_t kMaxParameters = 100000;
constexpr int32_t kMaxPrograms = 100000;

// A loaded plug-in library. Instances created from it must be destroyed first.
class Library {
public:
    using Entry = AEffect* (*)(audioMasterCallback);

    // Loads the file at `path`; throws HostError when it is missing, not loadable, or exports
    // neither "VSTPluginMain" nor "main".
    explicit Library(const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const std::string& path() const { return filePath; }
    Entry entry() const { return entryPoint; }
    // Which symbol the entry was found under.
    const std::string& entryName() const { return entrySymbol; }
    // Any other exported symbol, or null.
    void* symbol(const char* name) const;

private:
    std::string filePath;
    void* handle = nullptr;
    Entry entryPoint = nullptr;
    std::string entrySymbol;
};

// One effect instance created through a library's entry point. The destructor switches the
// effect off if it is on and closes it, which ends the record's life.
class Plugin {
public:
    // A caller's own answers, asked before the standard ones (from the entry point's call on):
    // a value to answer, or nothing to leave the request to the standard callback.
    using Answers = std::function<std::optional<intptr_t>(int32_t opcode, int32_t index,
                                                          intptr_t value, void* ptr, float opt)>;

    // Calls the entry point with our host callback and checks the record it returns; throws
    // HostError when the entry answers null, the magic is wrong, or the record is implausible.
    explicit Plugin(const Library& library, Answers answers = {});
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    AEffect* effect() const { return record; }

    // effOpen, then the sample rate and block size. Rates and sizes are the caller's to check.
    void open(double sampleRate, int32_t blockSize);
    // effMainsChanged on and effStartProcess; stop() undoes both. Idempotent.
    void start();
    void stop();
    bool running() const { return isRunning; }

    int32_t numPrograms() const { return record->numPrograms; }
    int32_t numParams() const { return record->numParams; }
    int32_t numInputs() const { return record->numInputs; }
    int32_t numOutputs() const { return record->numOutputs; }
    bool isSynth() const { return (record->flags & effFlagsIsSynth) != 0; }
    bool usesReplacing() const;

    std::string effectName();
    std::string vendorName();
    std::string productName();

    int32_t currentProgram();
    // Out-of-range indices are refused by the caller; this sends what it is given.
    void setProgram(int32_t index);
    // The indexed program name, or, for plug-ins that do not answer that request, the name read
    // after selecting the program (the current program is restored afterwards).
    std::string programName(int32_t index);

    std::string paramName(int32_t index);
    std::string paramDisplay(int32_t index);
    std::string paramLabel(int32_t index);
    float getParameter(int32_t index);
    void setParameter(int32_t index, float value);

    // Audio-path calls: no allocation. The events are delivered before the block they belong to.
    void processEvents(VstEvents* events);
    // Replacing process, or the accumulating one into outputs cleared first.
    void process(float** inputs, float** outputs, int32_t frames);

    // Any other dispatcher request (editor opcodes, ...), sent as given.
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    // What the host answers when the plug-in asks; public for the callback.
    double sampleRate() const { return rate; }
    int32_t blockSize() const { return block; }
    const Answers& ownAnswers() const { return answers; }

private:
    std::string text(int32_t opcode, int32_t index = 0);

    Answers answers;

    AEffect* record = nullptr;
    double rate = 44100.0;
    int32_t block = 512;
    bool isOpen = false;
    bool isRunning = false;
};

// The host callback every Plugin hands to its entry point.
intptr_t hostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                      float opt);

// The file the renderer hosts when no plug-in is named: corvex.so beside the running program,
// then in the user's and the system's VST folders. Empty when none exists.
std::string findDefaultPlugin();

// Resolves a --plugin argument: a path as given when it exists; a bare name (with or without
// ".so") is looked up in LXVST_PATH, ~/.vst, /usr/local/lib/vst and /usr/lib/vst. Returns the
// argument unchanged when nothing is found, so that loading reports it missing.
std::string resolvePluginPath(const std::string& nameOrPath);

// The folders searched for plug-ins, in order.
std::vector<std::string> pluginSearchPath();

}  // namespace hostkit
