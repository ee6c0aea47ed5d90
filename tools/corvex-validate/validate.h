// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-validate's shared parts: the settings, the context a check reports through, the table
// of checks, and one hosted instance with guarded buffers.
//
// Every check runs in a child process of its own (runner.cpp), so a plug-in that crashes, hangs
// or corrupts memory fails that check and the run goes on. A check runs on the child's main
// thread unless it says otherwise; nothing here is shared between threads.
#pragma once

#include "hostkit/plugin.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace validate {

constexpr int kMinStrictness = 1;
constexpr int kMaxStrictness = 10;

struct Settings {
    std::string plugin;
    int strictness = 5;
    bool skipEditor = false;
    uint32_t seed = 0;
    std::string json;
    bool verbose = false;
    std::string only;  // run only checks whose name contains this
};

// What one check found. The outcome is the worst finding: fail, then warn, else pass.
class Context {
public:
    Context(const Settings& settings, uint32_t seed);

    const Settings& settings() const { return config; }
    int strictness() const { return config.strictness; }
    std::mt19937& rng() { return random; }

    // The library under test, loaded on first use (throws hostkit::HostError).
    const hostkit::Library& library();

    void fail(const std::string& detail);
    void warn(const std::string& detail);
    // A fault that fails at this strictness and above, and only warns below it.
    void fault(int level, const std::string& detail);
    // Said on a passing line: what was checked or measured.
    void note(const std::string& detail);
    // The check does not apply (no editor, no display, ...).
    void skip(const std::string& why);

    bool failed() const { return failures > 0; }
    int failureCount() const { return failures; }

    // The largest sample magnitude a check accepts: +6 dBFS from strictness 7 on, +24 below.
    float bound() const { return config.strictness >= 7 ? 2.0f : 16.0f; }

    // Called by the runner: where findings go (a pipe to the parent).
    void setSink(int fd) { sinkFd = fd; }

private:
    void send(char kind, const std::string& detail);

    Settings config;
    std::mt19937 random;
    std::unique_ptr<hostkit::Library> lib;
    int sinkFd = -1;
    int failures = 0;
};

struct CheckDef {
    const char* name;  // "family.what"
    int level;         // the lowest strictness that runs it
    bool editor;       // needs an X display and an editor
    void (*run)(Context&);
};

std::vector<CheckDef> pluginChecks();
std::vector<CheckDef> editorChecks();
// Whether a window can be opened on the X display named by DISPLAY: without one, the editor
// checks are skipped rather than blamed on the plug-in.
bool displayReachable();

// Names the exported dynamic symbols of an ELF shared object that a host could call (functions
// and objects defined in it). Empty with an error text when the file cannot be read as ELF.
std::vector<std::string> exportedSymbols(const std::string& path, std::string* error);

// What one block of output looked like.
struct BlockResult {
    int32_t nonFinite = 0;  // NaN or infinite samples within the frames
    int32_t unwritten = 0;  // samples the replacing call left as the host put them
    int32_t overrun = 0;    // samples changed beyond the frames, or in channels not announced
    float peak = 0.0f;      // largest finite magnitude
};

// One instance of the plug-in, opened, given a rate and block size and switched on, with output
// buffers guarded past their end. Throws hostkit::HostError when the plug-in cannot be created.
class Instance {
public:
    static constexpr int32_t kMaxBlock = 8192;

    Instance(Context& context, double rate = 44100.0, int32_t block = 512,
             hostkit::Plugin::Answers answers = {});
    ~Instance();

    hostkit::Plugin& plugin() { return *host; }
    AEffect* effect() { return host->effect(); }
    int32_t outputs() const { return numOut; }

    // Queues a MIDI message for the next block, at the given offset.
    void midi(uint8_t status, uint8_t data1, uint8_t data2, int32_t delta = 0);
    // Queues any event record as it is (other types, odd sizes).
    void event(const VstMidiEvent& record);
    // Delivers the queued events now (block() does this itself).
    void deliver();
    // Delivers queued events, then one process call of `frames` (0 .. kMaxBlock, or anything for
    // the calls that must write nothing). replacing=false uses the accumulating call, adding to
    // `prefill`. Inputs carry `inputLevel` (a constant; 0 is silence).
    BlockResult block(int32_t frames, bool replacing = true, float prefill = 0.0f,
                      float inputLevel = 0.0f);
    // Blocks of the current block size until `frames` are done; the worst of them. With capture,
    // the first output channel is appended to `captured`.
    BlockResult render(int64_t frames, bool replacing = true);
    const float* channel(int32_t c) const { return out[static_cast<std::size_t>(c)].data(); }

    bool capture = false;
    std::vector<float> captured;

private:
    std::unique_ptr<hostkit::Plugin> host;
    int32_t numOut = 0;
    int32_t numIn = 0;
    std::vector<std::vector<float>> out, in;
    std::vector<float*> outPtr, inPtr;
    std::vector<VstMidiEvent> queued;
    std::vector<unsigned char> listMemory;
};

// Reports a block's faults through the context: non-finite and unwritten samples and overruns
// fail, samples beyond the bound are a fault from strictness 7. `where` names the situation. With
// soundOnlyWarns (for input no host sends), non-finite and loud samples only warn; unwritten
// samples and overruns still fail. Returns whether the block was clean.
bool judge(Context& context, const BlockResult& result, const std::string& where,
           bool soundOnlyWarns = false);
// The worse of two results.
BlockResult worst(const BlockResult& a, const BlockResult& b);

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A text the plug-in gave, quoted for a report: printable ASCII only, cut at 40 characters.
std::string quoted(const std::string& s);

}  // namespace validate
