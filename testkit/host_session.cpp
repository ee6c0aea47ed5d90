// SPDX-License-Identifier: GPL-3.0-or-later
// The scripted host session. Everything here goes through the record's five entry points, as a
// host does; nothing depends on the platform the session runs on.
#include "testkit/host_session.h"

#include "hostkit/host_answers.h"
#include "hostkit/recording_host.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <iterator>
#include <limits>

namespace session {
namespace {

// ---- The host side ---------------------------------------------------------------------------

// The host of the running session: answers the version request and keeps every request made of
// it since the last take. Set for the length of record(); the session is single-threaded.
hostkit::RecordingHost* gHost = nullptr;

std::string takeRequests() {
    std::string list;
    for (const hostkit::HostCall& call : gHost->calls) {
        if (!list.empty()) list += ',';
        list += std::to_string(call.opcode);
    }
    gHost->calls.clear();
    return list.empty() ? "none" : list;
}

// ---- Value formatting ------------------------------------------------------------------------

std::string hex32(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(v));
    return text;
}

std::string floatBits(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return hex32(bits);
}

std::string bytesHex(const void* data, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

// Printable ASCII stays; tab, newline, backslash and everything else become \xHH.
std::string escaped(const char* text, std::size_t capacity) {
    std::string out;
    for (std::size_t i = 0; i < capacity && text[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        }
    }
    return out;
}

// ---- The plug-in side ------------------------------------------------------------------------

constexpr std::size_t kBufferSize = 512;

struct Plugin {
    AEffect* effect = nullptr;

    explicit Plugin(PluginMain pluginMain)
        : effect(pluginMain(hostkit::RecordingHost::callback())) {}
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    ~Plugin() {
        if (effect) effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    }

    intptr_t call(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f) const {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }

    // The answer and the text the plug-in left in a zeroed buffer.
    std::string text(int32_t opcode, int32_t index = 0, intptr_t value = 0) const {
        char buffer[kBufferSize] = {};
        const intptr_t answer = call(opcode, index, value, buffer);
        return std::to_string(static_cast<long long>(answer)) + " " + escaped(buffer, kBufferSize);
    }

    // Opened, at `rate`, 512-frame blocks, switched on: what a host does before audio.
    void start(float rate = 44100.0f) const {
        call(effOpen);
        call(effSetSampleRate, 0, 0, nullptr, rate);
        call(effSetBlockSize, 0, 512);
        call(effMainsChanged, 0, 1);
    }
};

struct Note {
    int32_t delta;
    unsigned char status, data1, data2;
};

struct EventList {  // a VstEvents with room for more events
    int32_t numEvents;
    intptr_t reserved;
    VstEvent* events[8];
};

void sendMidi(const Plugin& plugin, const std::vector<Note>& notes) {
    VstMidiEvent midi[8] = {};
    EventList list{};
    for (std::size_t i = 0; i < notes.size() && i < 8; ++i) {
        midi[i].type = kVstMidiType;
        midi[i].byteSize = sizeof(VstMidiEvent);
        midi[i].deltaFrames = notes[i].delta;
        midi[i].midiData[0] = static_cast<char>(notes[i].status);
        midi[i].midiData[1] = static_cast<char>(notes[i].data1);
        midi[i].midiData[2] = static_cast<char>(notes[i].data2);
        list.events[i] = reinterpret_cast<VstEvent*>(&midi[i]);
        ++list.numEvents;
    }
    plugin.call(effProcessEvents, 0, 0, &list);
}

// Renders `frames` samples through processReplacing (or the accumulating process, into buffers
// holding old samples) and appends the first output's bits. A second output that differs from
// the first marks the render.
void render(const Plugin& plugin, int32_t frames, std::string& out, bool accumulating = false) {
    std::vector<float> left(static_cast<std::size_t>(frames), accumulating ? 0.75f : 0.0f);
    std::vector<float> right(static_cast<std::size_t>(frames), accumulating ? -0.5f : 0.0f);
    float unused[1] = {};
    float* inputs[2] = {unused, unused};
    float* outputs[2] = {left.data(), right.data()};
    if (accumulating) plugin.effect->process(plugin.effect, inputs, outputs, frames);
    else plugin.effect->processReplacing(plugin.effect, inputs, outputs, frames);
    for (int32_t i = 0; i < frames; ++i) out += floatBits(left[static_cast<std::size_t>(i)]);
    if (std::memcmp(left.data(), right.data(), left.size() * sizeof(float)) != 0)
        out += "|outputs-differ";
}

// The generator behind the random settings: fixed, so every platform draws the same ones.
struct Lcg {
    uint32_t state;
    float next() {  // 0 ... 1 in steps of 2^-24
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 16777216.0f;
    }
};

// ---- The parts of the session ----------------------------------------------------------------

void recordFields(PluginMain pluginMain, Transcript& t) {
    takeRequests();
    Plugin plugin(pluginMain);
    t.push_back({"record/host-requests-during-main", takeRequests()});
    const AEffect* e = plugin.effect;
    if (!e) {
        t.push_back({"record/effect", "none"});
        return;
    }
    t.push_back({"record/magic", hex32(static_cast<uint32_t>(e->magic))});
    t.push_back({"record/numPrograms", std::to_string(e->numPrograms)});
    t.push_back({"record/numParams", std::to_string(e->numParams)});
    t.push_back({"record/numInputs", std::to_string(e->numInputs)});
    t.push_back({"record/numOutputs", std::to_string(e->numOutputs)});
    t.push_back({"record/flags", hex32(static_cast<uint32_t>(e->flags))});
    t.push_back({"record/resvd", std::to_string(static_cast<long long>(e->resvd1)) + " " +
                                     std::to_string(static_cast<long long>(e->resvd2))});
    t.push_back({"record/initialDelay", std::to_string(e->initialDelay)});
    t.push_back({"record/qualities",
                 std::to_string(e->realQualities) + " " + std::to_string(e->offQualities)});
    t.push_back({"record/ioRatio", floatBits(e->ioRatio)});
    t.push_back({"record/uniqueID", hex32(static_cast<uint32_t>(e->uniqueID))});
    t.push_back({"record/version", std::to_string(e->version)});
    t.push_back({"record/future", bytesHex(e->future, sizeof e->future)});
    t.push_back(
        {"record/entry-points", std::string(e->dispatcher ? "d" : "-") + (e->process ? "p" : "-") +
                                    (e->setParameter ? "s" : "-") + (e->getParameter ? "g" : "-") +
                                    (e->processReplacing ? "r" : "-")});
    t.push_back({"record/object-user", std::string(e->object ? "object" : "no-object") +
                                           (e->user ? " user" : " no-user")});
    plugin.start();
    t.push_back({"record/host-requests-during-start", takeRequests()});
}

void recordIdentity(PluginMain pluginMain, Transcript& t) {
    Plugin plugin(pluginMain);
    if (!plugin.effect) return;
    plugin.start();
    t.push_back({"identity/effect-name", plugin.text(effGetEffectName)});
    t.push_back({"identity/vendor", plugin.text(effGetVendorString)});
    t.push_back({"identity/product", plugin.text(effGetProductString)});
    t.push_back({"identity/vendor-version", plugin.text(effGetVendorVersion)});
    t.push_back({"identity/vst-version", plugin.text(effGetVstVersion)});
    t.push_back({"identity/category", plugin.text(effGetPlugCategory)});
    // Every capability a plug-in may be asked about, then near misses that must not match one.
    std::vector<const char*> probes(std::begin(plugCanDos), std::end(plugCanDos));
    probes.insert(probes.end(), {"", "receiveVstMidiEvents", "RECEIVEVSTEVENTS"});
    for (const char* text : probes) {
        char buffer[kBufferSize] = {};
        std::snprintf(buffer, sizeof buffer, "%s", text);
        t.push_back({"identity/can-do " + std::string(text),
                     std::to_string(static_cast<long long>(plugin.call(effCanDo, 0, 0, buffer)))});
    }
}

void recordDispatcher(PluginMain pluginMain, Transcript& t) {
    Plugin plugin(pluginMain);
    if (!plugin.effect) return;
    plugin.start();
    // Queries that change nothing, with their answers and whatever they leave in the buffer.
    const int32_t queries[] = {effGetProgram,
                               effGetVu,
                               effIdentify,
                               effGetNumProgramCategories,
                               effGetTailSize,
                               effKeysRequired,
                               effIdle,
                               effGetCurrentMidiProgram,
                               effHasMidiProgramsChanged,
                               effGetErrorText,
                               effGetIcon,
                               effGetInputProperties,
                               effGetOutputProperties,
                               effGetParameterProperties,
                               effGetMidiProgramName,
                               effGetMidiProgramCategory,
                               effGetMidiKeyName,
                               effBeginSetProgram,
                               effEndSetProgram,
                               effStartProcess,
                               effStopProcess,
                               effConnectInput,
                               effConnectOutput,
                               effSetBypass,
                               effBeginLoadBank,
                               effBeginLoadProgram,
                               kNumEffectOpcodes,
                               1000,
                               -1};
    for (int32_t opcode : queries) {
        unsigned char buffer[kBufferSize] = {};
        const intptr_t answer = plugin.call(opcode, 0, 0, buffer);
        t.push_back({"dispatcher/opcode " + std::to_string(opcode),
                     std::to_string(static_cast<long long>(answer)) + " " + bytesHex(buffer, 128)});
    }
    for (int32_t index = -1; index <= plugin.effect->numParams; ++index)
        t.push_back({"dispatcher/can-be-automated " + std::to_string(index),
                     plugin.text(effCanBeAutomated, index)});
    {
        char value[kBufferSize] = "0.25";
        const intptr_t answer = plugin.call(effString2Parameter, 0, 0, value);
        t.push_back({"dispatcher/string-to-parameter",
                     std::to_string(static_cast<long long>(answer)) + " " +
                         floatBits(plugin.effect->getParameter(plugin.effect, 0))});
    }
    // The vendor-specific request without the wheel codes, and with them (no editor open).
    t.push_back({"dispatcher/vendor-specific other",
                 std::to_string(static_cast<long long>(plugin.call(effVendorSpecific, 1, 2)))});
    t.push_back({"dispatcher/vendor-specific wheel",
                 std::to_string(static_cast<long long>(
                     plugin.call(effVendorSpecific, fourCharCode('s', 't', 'C', 'A'),
                                 fourCharCode('W', 'h', 'e', 'e'), nullptr, 1.0f)))});
    {
        ERect* rect = nullptr;
        const intptr_t answer = plugin.call(effEditGetRect, 0, 0, &rect);
        std::string value = std::to_string(static_cast<long long>(answer));
        if (rect)
            value += " " + std::to_string(rect->top) + " " + std::to_string(rect->left) + " " +
                     std::to_string(rect->bottom) + " " + std::to_string(rect->right);
        t.push_back({"dispatcher/editor-rect", value});
    }
}

void recordPrograms(PluginMain pluginMain, Transcript& t) {
    Plugin plugin(pluginMain);
    if (!plugin.effect) return;
    plugin.start();
    AEffect* e = plugin.effect;
    for (int32_t p = -1; p <= e->numPrograms; ++p)
        t.push_back({"programs/name-indexed " + std::to_string(p),
                     plugin.text(effGetProgramNameIndexed, p)});
    for (int32_t p = 0; p < e->numPrograms; ++p) {
        plugin.call(effSetProgram, 0, p);
        const std::string id = std::to_string(p);
        t.push_back({"programs/current " + id, plugin.text(effGetProgram)});
        t.push_back({"programs/name " + id, plugin.text(effGetProgramName)});
        std::string values, displays;
        for (int32_t i = 0; i < e->numParams; ++i) {
            values += floatBits(e->getParameter(e, i)) + " ";
            displays += plugin.text(effGetParamDisplay, i) + "|";
        }
        t.push_back({"programs/values " + id, values});
        t.push_back({"programs/displays " + id, displays});
    }
    // Selections outside the bank change nothing.
    plugin.call(effSetProgram, 0, 5);
    for (intptr_t p : {intptr_t{-1}, intptr_t{64}, intptr_t{100000}}) {
        plugin.call(effSetProgram, 0, p);
        t.push_back({"programs/after-selecting " + std::to_string(static_cast<long long>(p)),
                     plugin.text(effGetProgram)});
    }
    // Renaming, including a name longer than a program holds.
    char name[kBufferSize] = "My sound";
    plugin.call(effSetProgramName, 0, 0, name);
    t.push_back({"programs/renamed", plugin.text(effGetProgramName)});
    std::snprintf(name, sizeof name, "%s", "A name far longer than the twenty-four characters");
    plugin.call(effSetProgramName, 0, 0, name);
    t.push_back({"programs/renamed-long", plugin.text(effGetProgramName)});
    t.push_back({"programs/renamed-indexed", plugin.text(effGetProgramNameIndexed, 5)});
}

void recordParameters(PluginMain pluginMain, Transcript& t) {
    Plugin plugin(pluginMain);
    if (!plugin.effect) return;
    plugin.start();
    AEffect* e = plugin.effect;
    for (int32_t i = -1; i <= e->numParams; ++i) {
        const std::string id = std::to_string(i);
        t.push_back({"parameters/name " + id, plugin.text(effGetParamName, i)});
        t.push_back({"parameters/label " + id, plugin.text(effGetParamLabel, i)});
    }
    const float values[] = {0.0f,
                            0.25f,
                            0.5f,
                            1.0f / 3.0f,
                            0.999999f,
                            1.0f,
                            1.5f,
                            -0.25f,
                            1e-30f,
                            1e30f,
                            123456.789f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN()};
    for (int32_t i = -1; i <= e->numParams; ++i) {
        std::string row;
        for (float v : values) {
            e->setParameter(e, i, v);
            row +=
                floatBits(e->getParameter(e, i)) + " " + plugin.text(effGetParamDisplay, i) + "|";
        }
        t.push_back({"parameters/set-get-display " + std::to_string(i), row});
    }
    // The program keeps what was set last.
    t.push_back({"parameters/program-after", plugin.text(effGetParamDisplay, 0)});
}

// Every factory program: a note with an offset, held over several blocks, then released.
void recordProgramRenders(PluginMain pluginMain, Transcript& t) {
    for (int32_t p = 0; p < 64; ++p) {
        Plugin plugin(pluginMain);
        if (!plugin.effect) return;
        plugin.start();
        plugin.call(effSetProgram, 0, p);
        const auto note = static_cast<unsigned char>(36 + (p * 7) % 48);
        std::string out;
        sendMidi(plugin, {{17, 0x90, note, 100}});
        for (int block = 0; block < 5; ++block) render(plugin, 512, out);
        sendMidi(plugin, {{100, 0x80, note, 0}});
        for (int block = 0; block < 3; ++block) render(plugin, 512, out);
        t.push_back({"render-programs/" + std::to_string(p), out});
    }
}

// Every note in turn on a few programs, with pitch bends between them.
void recordNoteRenders(PluginMain pluginMain, Transcript& t) {
    for (int32_t p : {0, 9, 22, 36}) {
        Plugin plugin(pluginMain);
        if (!plugin.effect) return;
        plugin.start();
        plugin.call(effSetProgram, 0, p);
        std::string out;
        for (int note = 0; note < 128; ++note) {
            const auto bend = static_cast<unsigned char>((note * 37) % 128);
            sendMidi(plugin,
                     {{0, 0x90, static_cast<unsigned char>(note), 90},
                      {10, 0xE0, 0, static_cast<unsigned char>(note % 3 == 0 ? bend : 64)}});
            render(plugin, 48, out);
        }
        t.push_back({"render-notes/program " + std::to_string(p), out});
    }
}

void recordRateRenders(PluginMain pluginMain, Transcript& t) {
    for (float rate : {8000.0f, 22050.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f}) {
        Plugin plugin(pluginMain);
        if (!plugin.effect) return;
        plugin.start(rate);
        plugin.call(effSetProgram, 0, 3);
        std::string out;
        sendMidi(plugin, {{0, 0x90, 69, 100}});
        for (int block = 0; block < 4; ++block) render(plugin, 512, out);
        t.push_back({"render-rates/" + std::to_string(static_cast<int>(rate)), out});
    }
}

// Settings no program has: every parameter drawn at random, some pinned to their ends.
void recordRandomRenders(PluginMain pluginMain, Transcript& t) {
    Lcg random{20240601u};
    for (int set = 0; set < 24; ++set) {
        Plugin plugin(pluginMain);
        if (!plugin.effect) return;
        plugin.start();
        AEffect* e = plugin.effect;
        for (int32_t i = 0; i < e->numParams; ++i) {
            float v = random.next();
            if (v < 0.08f) v = 0.0f;
            if (v > 0.92f) v = 1.0f;
            e->setParameter(e, i, v);
        }
        std::string out;
        const auto note = static_cast<unsigned char>(24 + (set * 11) % 80);
        sendMidi(plugin, {{5, 0x90, note, 100}});
        for (int block = 0; block < 3; ++block) render(plugin, 512, out);
        sendMidi(plugin, {{0, 0xB0, 123, 0}});
        render(plugin, 512, out);
        t.push_back({"render-random/" + std::to_string(set), out});
    }
}

// The accumulating process call overwrites its buffers just as the replacing one does.
void recordProcessRenders(PluginMain pluginMain, Transcript& t) {
    Plugin plugin(pluginMain);
    if (!plugin.effect) return;
    plugin.start();
    plugin.call(effSetProgram, 0, 12);
    std::string out;
    sendMidi(plugin, {{0, 0x90, 60, 100}});
    for (int block = 0; block < 4; ++block) render(plugin, 300, out, block % 2 == 1);
    t.push_back({"render-process/program 12", out});
}

}  // namespace

namespace {

struct Part {
    const char* section;
    void (*record)(PluginMain, Transcript&);
};

constexpr Part kParts[] = {
    {"record", recordFields},
    {"identity", recordIdentity},
    {"dispatcher", recordDispatcher},
    {"programs", recordPrograms},
    {"parameters", recordParameters},
    {"render-programs", recordProgramRenders},
    {"render-notes", recordNoteRenders},
    {"render-rates", recordRateRenders},
    {"render-random", recordRandomRenders},
    {"render-process", recordProcessRenders},
};

}  // namespace

Transcript record(PluginMain pluginMain, const std::string& only) {
    hostkit::RecordingHost host;
    host.answers[audioMasterVersion] = hostkit::kHostVstVersion;
    gHost = &host;
    Transcript t;
    for (const Part& part : kParts)
        if (only.empty() || only == part.section) part.record(pluginMain, t);
    gHost = nullptr;
    return t;
}

std::vector<std::string> sections() {
    std::vector<std::string> names;
    for (const Part& part : kParts) names.emplace_back(part.section);
    return names;
}

std::string format(const Transcript& transcript) {
    std::string text;
    for (const Entry& entry : transcript) text += entry.key + "\t" + entry.value + "\n";
    return text;
}

bool parse(const std::string& text, Transcript& transcript) {
    transcript.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;  // every entry ends its line
        const std::size_t tab = text.find('\t', start);
        if (tab == std::string::npos || tab > end) return false;
        transcript.push_back(
            {text.substr(start, tab - start), text.substr(tab + 1, end - tab - 1)});
        start = end + 1;
    }
    return true;
}

std::string sectionOf(const std::string& key) { return key.substr(0, key.find('/')); }

std::string describeDifference(const std::string& key, const std::string& expected,
                               const std::string& actual) {
    if (expected == actual) return "";
    if (key.rfind("render-", 0) != 0)
        return key + ": expected \"" + expected + "\", got \"" + actual + "\"";
    const std::size_t common = std::min(expected.size(), actual.size()) / 8;
    std::size_t first = common, count = 0;
    for (std::size_t i = 0; i < common; ++i) {
        if (expected.compare(i * 8, 8, actual, i * 8, 8) != 0) {
            if (count++ == 0) first = i;
        }
    }
    std::string message =
        key + ": " + std::to_string(count) + " of " + std::to_string(common) + " samples differ";
    if (count > 0)
        message += "; first at sample " + std::to_string(first) + ": expected " +
                   expected.substr(first * 8, 8) + ", got " + actual.substr(first * 8, 8);
    if (expected.size() != actual.size())
        message += "; lengths " + std::to_string(expected.size()) + " and " +
                   std::to_string(actual.size());
    return message;
}

}  // namespace session
