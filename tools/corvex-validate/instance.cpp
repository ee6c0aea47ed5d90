// SPDX-License-Identifier: GPL-3.0-or-later
// The check context's reporting and one hosted instance with guarded buffers.
#include "validate.h"

#include "hostkit/output_guard.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace validate {

namespace {

using hostkit::guardValue;
using hostkit::isGuard;

constexpr int32_t kGuardFrames = 256;
constexpr int kMaxQueued = 512;

}  // namespace

std::string format(const char* fmt, ...) {
    char buf[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s.substr(0, 40))
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out + (s.size() > 40 ? "...\"" : "\"");
}

// ---- Context ---------------------------------------------------------------------------------

Context::Context(const Settings& settings, uint32_t seed) : config(settings), random(seed) {}

const hostkit::Library& Context::library() {
    if (!lib) lib = std::make_unique<hostkit::Library>(config.plugin);
    return *lib;
}

void Context::send(char kind, const std::string& detail) {
    if (sinkFd < 0) return;
    std::string line(1, kind);
    line += '\t';
    // One finding per line: the text may hold anything the plug-in wrote.
    for (char c : detail) line += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    line += '\n';
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(sinkFd, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void Context::fail(const std::string& detail) {
    ++failures;
    send('F', detail);
}
void Context::warn(const std::string& detail) { send('W', detail); }
void Context::fault(int level, const std::string& detail) {
    if (config.strictness >= level) fail(detail);
    else warn(detail);
}
void Context::note(const std::string& detail) { send('N', detail); }
void Context::skip(const std::string& why) { send('S', why); }

// ---- Instance --------------------------------------------------------------------------------

Instance::Instance(Context& context, double rate, int32_t block, hostkit::Plugin::Answers answers)
    : host(std::make_unique<hostkit::Plugin>(context.library(), std::move(answers))),
      numOut(host->numOutputs()), numIn(host->numInputs()) {
    // Room for two more channels than announced, to see writes into channels that do not exist.
    const std::size_t frames = kMaxBlock + kGuardFrames;
    out.assign(static_cast<std::size_t>(numOut) + 2, std::vector<float>(frames, guardValue()));
    in.assign(static_cast<std::size_t>(std::max(numIn, 2)), std::vector<float>(frames, 0.0f));
    for (auto& c : out) outPtr.push_back(c.data());
    for (auto& c : in) inPtr.push_back(c.data());
    queued.reserve(kMaxQueued);
    // The list's slots are event pointers, sized as such.
    // NOLINTNEXTLINE(bugprone-sizeof-expression)
    listMemory.resize(sizeof(VstEvents) + kMaxQueued * sizeof(VstEvents::events[0]));
    host->open(rate, block);
    host->start();
}

Instance::~Instance() = default;

void Instance::midi(uint8_t status, uint8_t data1, uint8_t data2, int32_t delta) {
    VstMidiEvent m{};
    m.type = kVstMidiType;
    m.byteSize = static_cast<int32_t>(sizeof(VstMidiEvent));
    m.deltaFrames = delta;
    m.midiData[0] = static_cast<char>(status);
    m.midiData[1] = static_cast<char>(data1);
    m.midiData[2] = static_cast<char>(data2);
    event(m);
}

void Instance::event(const VstMidiEvent& record) {
    if (queued.size() < kMaxQueued) queued.push_back(record);
}

void Instance::deliver() {
    if (queued.empty()) return;
    auto* list = reinterpret_cast<VstEvents*>(listMemory.data());
    auto** slots = reinterpret_cast<VstEvent**>(listMemory.data() + offsetof(VstEvents, events));
    list->numEvents = static_cast<int32_t>(queued.size());
    list->reserved = 0;
    for (std::size_t i = 0; i < queued.size(); ++i)
        slots[i] = reinterpret_cast<VstEvent*>(&queued[i]);
    host->processEvents(list);
    queued.clear();
}

BlockResult Instance::block(int32_t frames, bool replacing, float prefill, float inputLevel) {
    deliver();
    const int32_t n = frames > 0 ? std::min(frames, kMaxBlock) : 0;
    for (std::size_t c = 0; c < out.size(); ++c) {
        std::fill(out[c].begin(), out[c].end(), guardValue());
        if (!replacing && static_cast<int32_t>(c) < numOut) std::fill_n(out[c].begin(), n, prefill);
    }
    for (auto& c : in) std::fill_n(c.begin(), n, inputLevel);
    AEffect* e = host->effect();
    if (replacing && e->processReplacing)
        e->processReplacing(e, inPtr.data(), outPtr.data(), frames > kMaxBlock ? n : frames);
    else if (e->process)
        e->process(e, inPtr.data(), outPtr.data(), frames > kMaxBlock ? n : frames);
    BlockResult r;
    for (std::size_t c = 0; c < out.size(); ++c) {
        const auto& ch = out[c];
        const bool announced = static_cast<int32_t>(c) < numOut;
        for (std::size_t i = 0; i < ch.size(); ++i) {
            const float v = ch[i];
            if (!announced || static_cast<int32_t>(i) >= n) {
                r.overrun += !isGuard(v);
                continue;
            }
            if (isGuard(v)) ++r.unwritten;
            else if (!std::isfinite(v)) ++r.nonFinite;
            else r.peak = std::max(r.peak, std::fabs(v));
        }
    }
    if (capture && numOut > 0) captured.insert(captured.end(), out[0].begin(), out[0].begin() + n);
    return r;
}

BlockResult Instance::render(int64_t frames, bool replacing) {
    BlockResult all;
    const int32_t size = std::clamp<int32_t>(host->blockSize(), 1, kMaxBlock);
    for (int64_t done = 0; done < frames; done += size) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(size, frames - done));
        all = worst(all, block(n, replacing));
    }
    return all;
}

BlockResult worst(const BlockResult& a, const BlockResult& b) {
    BlockResult r;
    r.nonFinite = a.nonFinite + b.nonFinite;
    r.unwritten = a.unwritten + b.unwritten;
    r.overrun = a.overrun + b.overrun;
    r.peak = std::max(a.peak, b.peak);
    return r;
}

namespace {

// A peak beyond the bound, both in dBFS with as many decimals as it takes to tell them apart
// (two at least): a peak a hair above +6.02 dBFS must not read as "6.0, beyond +6".
std::string peakBeyond(float peak, float bound) {
    const double p = 20.0 * std::log10(static_cast<double>(peak));
    const double b = 20.0 * std::log10(static_cast<double>(bound));
    std::string pt, bt;
    for (int digits = 2; digits <= 9; ++digits) {
        pt = format("%.*f", digits, p);
        bt = format("%+.*f", digits, b);
        if (std::strtod(pt.c_str(), nullptr) > std::strtod(bt.c_str(), nullptr)) break;
    }
    return format("peak %s dBFS, beyond %s dBFS", pt.c_str(), bt.c_str());
}

}  // namespace

bool judge(Context& ctx, const BlockResult& r, const std::string& where, bool soundOnlyWarns) {
    bool clean = true;
    if (r.nonFinite > 0) {
        const std::string text = format("%s: %d non-finite samples", where.c_str(), r.nonFinite);
        if (soundOnlyWarns) ctx.warn(text);
        else ctx.fail(text);
        clean = false;
    }
    if (r.overrun > 0) {
        ctx.fail(format("%s: %d samples written past the frames or channels given", where.c_str(),
                        r.overrun));
        clean = false;
    }
    if (r.unwritten > 0) {
        ctx.fail(
            format("%s: processReplacing left %d samples unwritten", where.c_str(), r.unwritten));
        clean = false;
    }
    if (r.peak > ctx.bound()) {
        const std::string text = where + ": " + peakBeyond(r.peak, ctx.bound());
        if (soundOnlyWarns) ctx.warn(text);
        else ctx.fault(7, text);
        clean = false;
    }
    return clean;
}

}  // namespace validate
