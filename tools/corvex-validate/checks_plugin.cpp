// SPDX-License-Identifier: GPL-3.0-or-later
// The checks of a plug-in's record, audio, events, parameters, programs, state, threads and
// timing. Each takes a Context and reports through it; the runner gives each its own process.
#include "validate.h"

#include <algorithm>
#include <atomic>
#include <cxxabi.h>
#include <cstdlib>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <thread>

namespace validate {

namespace {

using hostkit::Plugin;

constexpr float kSilence = 1e-5f;  // -100 dBFS
constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

bool isSynth(Instance& i) { return (i.effect()->flags & effFlagsIsSynth) != 0; }

// A text request into a large buffer filled with a marker, so that a missing terminator shows.
struct Text {
    std::string text;
    bool terminated = false;
    bool untouched = false;  // the plug-in wrote nothing at all
};

Text askText(Plugin& p, int32_t opcode, int32_t index = 0, intptr_t value = 0,
             intptr_t* answer = nullptr) {
    static constexpr std::size_t kSize = 512;
    char buf[kSize];
    std::memset(buf, 0x7F, sizeof buf);
    const intptr_t r = p.dispatch(opcode, index, value, buf);
    if (answer) *answer = r;
    Text t;
    t.untouched = std::all_of(buf, buf + kSize, [](char c) { return c == 0x7F; });
    const void* end = std::memchr(buf, '\0', kSize);
    t.terminated = end != nullptr;
    t.text.assign(buf, t.terminated ? static_cast<const char*>(end) - buf : kSize);
    return t;
}

double dB(float v) { return v > 0 ? 20.0 * std::log10(static_cast<double>(v)) : -999.0; }

void noteOn(Instance& i, int note = 60, int32_t delta = 0) {
    i.midi(0x90, static_cast<uint8_t>(note), 100, delta);
}
void noteOff(Instance& i, int note = 60, int32_t delta = 0) {
    i.midi(0x80, static_cast<uint8_t>(note), 0, delta);
}

// How many parameters or programs a check walks through: all at the highest strictness.
int32_t walkCount(Context& ctx, int32_t count, int32_t cap) {
    return ctx.strictness() >= kMaxStrictness ? count : std::min(count, cap);
}

// ---- Loading ---------------------------------------------------------------------------------

void loadEntry(Context& ctx) {
    const hostkit::Library& lib = ctx.library();
    ctx.note("entry point " + lib.entryName());
    if (lib.symbol("VSTPluginMain") && lib.symbol("main"))
        ctx.note("exports VSTPluginMain and main");
}

void loadVersions(Context& ctx) {
    std::string seen;
    for (const intptr_t version : {intptr_t{2400}, intptr_t{2300}, intptr_t{2}, intptr_t{0}}) {
        auto answers = [version](int32_t opcode, int32_t, intptr_t, void*,
                                 float) -> std::optional<intptr_t> {
            if (opcode == audioMasterVersion) return version;
            return std::nullopt;
        };
        std::string what;
        try {
            Plugin p(ctx.library(), answers);
            what = "effect";
        } catch (const hostkit::HostError& e) {
            what = "none";
            if (version >= 2300)
                ctx.fail(format("a host answering version %ld gets no effect: %s",
                                static_cast<long>(version), e.what()));
        }
        seen +=
            format("%s%ld: %s", seen.empty() ? "" : ", ", static_cast<long>(version), what.c_str());
    }
    ctx.note(seen);
}

void loadRecord(Context& ctx) {
    Plugin p(ctx.library());
    AEffect* e = p.effect();
    if ((e->flags & effFlagsCanReplacing) && !e->processReplacing)
        ctx.fail("announces processReplacing but has none");
    if (!e->processReplacing)
        ctx.fault(4, "no processReplacing: hosts of interface 2.4 call only that");
    if (e->numParams > 0 && (!e->setParameter || !e->getParameter))
        ctx.fail("has parameters but no setParameter or getParameter");
    if (e->initialDelay < 0) ctx.fail(format("negative initial delay %d", e->initialDelay));
    if (!std::isfinite(e->ioRatio)) ctx.fail("non-finite ioRatio");
    if (e->uniqueID == 0) ctx.warn("uniqueID is 0: hosts tell plug-ins apart by it");
    const int32_t known = 0x0F3F;
    if (e->flags & ~known) ctx.warn(format("unknown flag bits 0x%x", e->flags & ~known));
    const bool synth = (e->flags & effFlagsIsSynth) != 0;
    if (synth && e->numOutputs == 0) ctx.fail("an instrument without audio outputs");
    if (e->numPrograms == 0) ctx.warn("no programs: hosts expect at least one");
    const intptr_t category = p.dispatch(effGetPlugCategory);
    if (synth && category != kPlugCategSynth && category != 0)
        ctx.warn(format("an instrument whose category answer is %ld", static_cast<long>(category)));
    const uint32_t id = static_cast<uint32_t>(e->uniqueID);
    char idText[5];
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(id >> (24 - 8 * i));
        idText[i] = c >= 0x20 && c < 0x7F ? c : '?';
    }
    idText[4] = '\0';
    ctx.note(format("%s, %d in, %d out, %d parameters, %d programs, flags 0x%x, id '%s'",
                    synth ? "instrument" : "effect", e->numInputs, e->numOutputs, e->numParams,
                    e->numPrograms, e->flags, idText));
}

void loadSymbols(Context& ctx) {
    std::string error;
    const auto names = exportedSymbols(ctx.library().path(), &error);
    if (!error.empty()) {
        ctx.warn("cannot read the exported symbols: " + error);
        return;
    }
    static const std::set<std::string> expected = {"main", "VSTPluginMain", "_init", "_fini"};
    std::vector<std::string> other;
    for (const auto& n : names)
        if (!expected.count(n)) other.push_back(n);
    if (other.empty()) {
        ctx.note(format("exports only its entry point (%zu symbols)", names.size()));
        return;
    }
    std::string sample;
    for (std::size_t i = 0; i < other.size() && i < 3; ++i) {
        int status = 0;
        char* plain = abi::__cxa_demangle(other[i].c_str(), nullptr, nullptr, &status);
        std::string name = status == 0 && plain ? plain : other[i];
        std::free(plain);
        if (name.size() > 48) name = name.substr(0, 45) + "...";
        sample += (i ? ", " : "") + name;
    }
    ctx.warn(format("exports %zu symbols besides its entry point (%s%s): they may clash with the "
                    "host's or other plug-ins'",
                    other.size(), sample.c_str(), other.size() > 3 ? ", ..." : ""));
}

void loadIdentity(Context& ctx) {
    Plugin p(ctx.library());
    struct Ask {
        int32_t opcode;
        const char* what;
        std::size_t limit;  // bytes hosts give, terminator included
    };
    for (const Ask& a :
         {Ask{effGetEffectName, "effect name", 32}, Ask{effGetVendorString, "vendor", 64},
          Ask{effGetProductString, "product", 64}}) {
        const Text t = askText(p, a.opcode);
        if (!t.terminated) ctx.fail(format("the %s is not terminated within 512 bytes", a.what));
        else if (t.text.size() + 1 > a.limit)
            ctx.fault(5, format("the %s %s takes %zu bytes of a %zu-byte buffer", a.what,
                                quoted(t.text).c_str(), t.text.size() + 1, a.limit));
        else ctx.note(format("%s %s", a.what, quoted(t.text).c_str()));
    }
    const intptr_t vst = p.dispatch(effGetVstVersion);
    if (vst < 2000) ctx.warn(format("answers interface version %ld", static_cast<long>(vst)));
    if (p.isSynth() && p.dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")) <= 0)
        ctx.warn("an instrument that does not say it receives MIDI events");
    char unknown[] = "corvex-validate-no-such-capability";
    if (p.dispatch(effCanDo, 0, 0, unknown) > 0) ctx.warn("claims an unknown capability");
    char empty[] = "";
    p.dispatch(effCanDo, 0, 0, empty);
    std::string huge(4000, 'x');
    p.dispatch(effCanDo, 0, 0, huge.data());
}

// ---- Lifecycle -------------------------------------------------------------------------------

void lifeOpenClose(Context& ctx) {
    const int cycles = ctx.strictness() >= 3 ? 100 : 20;
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < cycles && !ctx.failed(); ++n) {
        Instance i(ctx);
        noteOn(i);
        judge(ctx, i.render(1024), format("cycle %d", n + 1));
    }
    ctx.note(
        format("%d cycles in %.2f s", cycles,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()));
}

void lifeSuspendResume(Context& ctx) {
    Instance i(ctx);
    for (int n = 0; n < 20; ++n) {
        i.plugin().stop();
        if (ctx.strictness() >= 6 && n % 5 == 0) {
            // Hosts do send a second off or on now and then.
            i.plugin().dispatch(effMainsChanged, 0, 0);
            i.plugin().dispatch(effMainsChanged, 0, 1);
            i.plugin().dispatch(effMainsChanged, 0, 1);
        } else i.plugin().start();
        noteOn(i);
        if (!judge(ctx, i.render(2048), format("after resume %d", n + 1))) return;
        noteOff(i);
    }
    ctx.note("20 suspend/resume cycles");
}

void lifeSampleRates(Context& ctx) {
    const double rates[] = {8000,  11025,  22050,  32000, 44100,   48000, 88200,
                            96000, 176400, 192000, 44101, 47999.5, 100000};
    float referencePeak = -1.0f;
    std::string silentAt;
    for (const double rate : rates) {
        Instance i(ctx, rate, 512);
        noteOn(i);
        BlockResult r = i.render(static_cast<int64_t>(rate * 0.25));
        noteOff(i);
        r = worst(r, i.render(static_cast<int64_t>(rate * 0.1)));
        judge(ctx, r, format("at %g Hz", rate));
        if (rate == 44100) referencePeak = r.peak;
        else if (r.peak <= kSilence) silentAt += format("%s%g", silentAt.empty() ? "" : ", ", rate);
    }
    if (referencePeak > kSilence && !silentAt.empty())
        ctx.warn("sounds at 44100 Hz but not at " + silentAt + " Hz");
    ctx.note("13 rates from 8000 to 192000 Hz");
}

void lifeBlockSizes(Context& ctx) {
    for (const int32_t size : {1, 2, 7, 64, 512, 4096, 8192}) {
        Instance i(ctx, 44100.0, size);
        noteOn(i);
        judge(ctx, i.render(std::max<int64_t>(int64_t{size} * 4, 8192)),
              format("blocks of %d", size));
    }
    ctx.note("blocks of 1, 2, 7, 64, 512, 4096 and 8192");
}

void lifeShortBlocks(Context& ctx) {
    Instance i(ctx, 44100.0, 512);
    noteOn(i);
    for (const int32_t frames : {512, 100, 1, 511, 17, 3, 512})
        judge(ctx, i.block(frames), format("a block of %d after announcing 512", frames));
    if (ctx.strictness() >= 7) {
        judge(ctx, i.block(0), "a block of 0 frames");
        judge(ctx, i.block(512), "a block after one of 0 frames");
    }
}

// ---- Audio -----------------------------------------------------------------------------------

void audioSilence(Context& ctx) {
    Instance i(ctx);
    const BlockResult r = i.render(44100);
    judge(ctx, r, "without input or notes");
    if (r.peak > kSilence)
        ctx.fault(3, format(isSynth(i) ? "sounds before any note: peak %.1f dBFS"
                                       : "silence in gives sound out: peak %.1f dBFS",
                            dB(r.peak)));
    else ctx.note(isSynth(i) ? "silent until a note" : "silence in, silence out");
}

void audioPrograms(Context& ctx) {
    Instance i(ctx);
    const int32_t count = walkCount(ctx, i.plugin().numPrograms(), 128);
    int bad = 0;
    for (int32_t p = 0; p < count && bad < 8; ++p) {
        i.plugin().setProgram(p);
        const intptr_t now = i.plugin().dispatch(effGetProgram);
        if (now != p)
            ctx.fault(5, format("effGetProgram answers %ld after selecting program %d",
                                static_cast<long>(now), p));
        i.midi(0xB0, 123, 0);
        i.render(4410);
        noteOn(i, 48 + p % 24);
        BlockResult r = i.render(13230);
        noteOff(i, 48 + p % 24);
        r = worst(r, i.render(8820));
        if (!judge(ctx, r, format("program %d %s", p, quoted(i.plugin().programName(p)).c_str())))
            ++bad;
    }
    ctx.note(format("%d programs played", count));
}

// NaN as a parameter value: no host sends it, though broken automation data might. A plug-in that
// passes it on to its sound is careless rather than broken, so that only warns; writing past the
// buffers still fails. An instance of its own, and the first sign ends it: a NaN that reached a
// filter's state outlives the value, and would be blamed on every parameter after it.
void parameterNaN(Context& ctx, int32_t count) {
    Instance i(ctx);
    Plugin& p = i.plugin();
    for (int32_t k = 0; k < count; ++k) {
        const float original = p.getParameter(k);
        if (k % 8 == 0) noteOn(i, 48 + k % 24);
        p.setParameter(k, std::numeric_limits<float>::quiet_NaN());
        BlockResult r = i.render(1024);
        p.setParameter(k, original);
        r = worst(r, i.render(1024));
        if (!judge(ctx, r,
                   format("parameter %d %s set to NaN (which no host sends) and back", k,
                          quoted(p.paramName(k)).c_str()),
                   true))
            return;
    }
}

void audioParameterSweep(Context& ctx) {
    Instance i(ctx);
    Plugin& p = i.plugin();
    const int32_t count = walkCount(ctx, p.numParams(), 256);
    std::vector<float> values = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    if (ctx.strictness() >= 4) values.insert(values.end(), {-1.0f, 2.0f, -1e30f, 1e30f});
    if (ctx.strictness() >= 7)
        values.insert(values.end(), {std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity()});
    int bad = 0;
    for (int32_t k = 0; k < count && bad < 8; ++k) {
        const float original = p.getParameter(k);
        if (k % 8 == 0) noteOn(i, 48 + k % 24);
        for (const float v : values) {
            p.setParameter(k, v);
            if (!judge(ctx, i.render(1024),
                       format("parameter %d %s set to %g", k, quoted(p.paramName(k)).c_str(),
                              static_cast<double>(v)))) {
                ++bad;
                break;
            }
        }
        p.setParameter(k, original);
        if (!judge(ctx, i.render(1024), format("parameter %d set back", k))) ++bad;
    }
    if (ctx.strictness() >= 7) parameterNaN(ctx, count);
    ctx.note(format("%d parameters swept through %zu values", count, values.size()));
}

// Renders a fixed phrase into `out` (first channel).
void phrase(Instance& i, std::vector<float>& out, bool replacing = true, float prefill = 0.0f) {
    i.capture = true;
    i.captured.clear();
    noteOn(i, 60);
    for (int b = 0; b < 16; ++b) {
        if (b == 10) noteOff(i, 60);
        i.block(512, replacing, prefill);
    }
    out = i.captured;
}

float maxDifference(const std::vector<float>& a, const std::vector<float>& b, float offset = 0.0f,
                    std::size_t* where = nullptr) {
    float d = 0.0f;
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
        const float diff = std::fabs(a[k] + offset - b[k]);
        if (!(diff <= d)) {
            if (d == 0.0f && where) *where = k;
            d = std::isnan(diff) ? std::numeric_limits<float>::infinity() : diff;
        }
    }
    return d;
}

void audioProcessConsistency(Context& ctx) {
    std::vector<float> a, a2, b, c;
    intptr_t version = 0;
    {
        Instance i(ctx);
        if (!i.effect()->process || !i.effect()->processReplacing) {
            ctx.note(i.effect()->process ? "only the accumulating call" : "only processReplacing");
            return;
        }
        version = i.plugin().dispatch(effGetVstVersion);
        phrase(i, a);
    }
    {
        Instance i(ctx);
        phrase(i, a2);
    }
    if (maxDifference(a, a2) > 0.0f) {
        ctx.note("not compared: two instances render differently (see audio.deterministic)");
        return;
    }
    {
        Instance i(ctx);
        phrase(i, b, false, 0.0f);
    }
    {
        Instance i(ctx);
        phrase(i, c, false, 0.25f);
    }
    if (const float d = maxDifference(a, b); d > 1e-6f)
        ctx.fault(
            5, format("process and processReplacing differ by up to %g", static_cast<double>(d)));
    else if (maxDifference(a, c, 0.25f) <= 1e-5f)
        ctx.note("process adds, processReplacing replaces");
    else if (maxDifference(a, c) <= 1e-6f) {
        // Interface 2.4 retired the accumulating call: its hosts call processReplacing only, and
        // plug-ins of 2.4 commonly give process() the same code. Only a plug-in answering an older
        // version can meet a host that mixes into its buffer through process().
        if (version >= 2400)
            ctx.note(format("process() replaces too (interface %ld: hosts call processReplacing)",
                            static_cast<long>(version)));
        else
            ctx.warn(format("answers interface version %ld, whose hosts may mix into their buffer "
                            "through process(), but process() overwrites it",
                            static_cast<long>(version)));
    } else ctx.fault(5, "process() on a filled buffer gives neither the sum nor the replacement");
}

void audioDeterministic(Context& ctx) {
    std::vector<float> a, b;
    {
        Instance i(ctx);
        phrase(i, a);
    }
    {
        Instance i(ctx);
        phrase(i, b);
    }
    std::size_t where = 0;
    if (const float d = maxDifference(a, b, 0.0f, &where); d > 0.0f)
        ctx.fault(5, format("two instances render the same notes differently (from frame %zu, by "
                            "up to %g)",
                            where, static_cast<double>(d)));
    else ctx.note(format("%zu frames identical", a.size()));
}

// ---- Events ----------------------------------------------------------------------------------

// The first frame of any channel above silence in the last block, or -1.
int32_t firstSound(Instance& i, int32_t frames) {
    for (int32_t f = 0; f < frames; ++f)
        for (int32_t c = 0; c < i.outputs(); ++c)
            if (std::fabs(i.channel(c)[f]) > 1e-6f) return f;
    return -1;
}

void eventsOffsets(Context& ctx) {
    constexpr int32_t kBlock = 64;
    const int32_t step = ctx.strictness() >= 5 ? 1 : 7;
    int sounded = 0, early = 0;
    std::string firstEarly;
    for (int32_t k = 0; k < kBlock; k += step) {
        Instance i(ctx, 44100.0, kBlock);
        if (!isSynth(i)) {
            ctx.skip("an effect: notes are not its input");
            return;
        }
        if (i.render(int64_t{kBlock} * 4).peak > 1e-6f) continue;  // not silent to begin with
        noteOn(i, 60, k);
        const BlockResult r = i.block(kBlock);
        const int32_t at = firstSound(i, kBlock);
        judge(ctx, r, format("a note at offset %d", k));
        if (at >= 0 && at < k) {
            if (!early++) firstEarly = format("a note at offset %d sounds from frame %d", k, at);
        }
        if (at >= 0 || i.render(8820).peak > kSilence) ++sounded;
    }
    if (early) ctx.fault(6, firstEarly + format(" (%d offsets early): not sample-accurate", early));
    if (sounded == 0) ctx.note("no note sounded; timing not measured");
    else
        ctx.note(
            format("notes at %d offsets of a %d-frame block", (kBlock + step - 1) / step, kBlock));
}

void eventsLastFrame(Context& ctx) {
    Instance i(ctx, 44100.0, 512);
    // An effect's output owes nothing to notes: only an instrument's onset is timed.
    const bool timed = isSynth(i) && i.render(2048).peak <= 1e-6f;
    noteOn(i, 60, 511);
    const BlockResult r = i.block(512);
    const int32_t at = firstSound(i, 512);
    judge(ctx, r, "a note at the last frame");
    if (timed && at >= 0 && at < 511)
        ctx.fault(6, format("a note at frame 511 sounds from frame %d", at));
    judge(ctx, i.render(4096), "after a note at the last frame");
    for (const int32_t delta : {512, 1536, kIntMax, -1, kIntMin}) {
        noteOn(i, 64, delta);
        noteOff(i, 60, delta);
        judge(ctx, i.render(2048), format("notes at offset %d of a 512-frame block", delta));
    }
    noteOff(i, 64, 511);
    judge(ctx, i.render(2048), "a note-off at the last frame");
}

void eventsAllNotesOff(Context& ctx) {
    Instance i(ctx);
    if (!isSynth(i)) {
        ctx.skip("an effect");
        return;
    }
    for (const int n : {60, 64, 67}) noteOn(i, n);
    const BlockResult held = i.render(22050);
    judge(ctx, held, "three notes held");
    if (held.peak <= kSilence) {
        ctx.note("no sound from three notes; nothing to switch off");
        return;
    }
    i.midi(0xB0, 123, 0);
    const int32_t window = 4410;
    for (int w = 0; w < 300; ++w) {
        const BlockResult r = i.render(window);
        judge(ctx, r, "after all-notes-off");
        if (r.peak <= 1e-4f) {
            ctx.note(format("silent %.1f s after all-notes-off", (w + 1) * 0.1));
            return;
        }
    }
    ctx.fault(4, "still sounding 30 s after all-notes-off (controller 123)");
}

void eventsPitchBend(Context& ctx) {
    Instance i(ctx);
    noteOn(i);
    for (const uint8_t channel : {uint8_t{0}, uint8_t{15}}) {
        for (const auto& bend :
             {std::pair<uint8_t, uint8_t>{0x00, 0x00}, {0x7F, 0x7F}, {0x00, 0x40}, {0x7F, 0x3F}}) {
            i.midi(static_cast<uint8_t>(0xE0 | channel), bend.first, bend.second);
            judge(ctx, i.render(4096),
                  format("pitch bend %d on channel %d", (bend.second << 7 | bend.first) - 8192,
                         channel + 1));
        }
    }
    ctx.note("both ends and the centre, channels 1 and 16");
}

void eventsJunk(Context& ctx) {
    Instance i(ctx, 44100.0, 256);
    std::mt19937& rng = ctx.rng();
    auto byte = [&] { return static_cast<uint8_t>(rng() & 0xFF); };
    int sent = 0;
    for (int b = 0; b < 400; ++b) {
        const int n = static_cast<int>(rng() % 9);
        for (int e = 0; e < n; ++e) {
            VstMidiEvent m{};
            static constexpr int32_t kOtherTypes[] = {2, 3, 4, 5, 7, 8, 0, -1};
            m.type = rng() % 10 == 0 ? kOtherTypes[rng() % 8] : kVstMidiType;
            m.byteSize = rng() % 10 == 0 ? static_cast<int32_t>(rng() % 64) : 32;
            m.deltaFrames = static_cast<int32_t>(rng() % 256);
            m.midiData[0] = static_cast<char>(byte() | 0x80);
            m.midiData[1] = static_cast<char>(rng() % 4 == 0 ? byte() : byte() & 0x7F);
            m.midiData[2] = static_cast<char>(rng() % 4 == 0 ? byte() : byte() & 0x7F);
            m.midiData[3] = static_cast<char>(byte());
            m.detune = static_cast<char>(byte());
            i.event(m);
            ++sent;
        }
        if (b % 50 == 0) {
            VstEvents none{};
            i.plugin().processEvents(&none);
        }
        if (!judge(ctx, i.block(256),
                   format("random MIDI, block %d (seed %u)", b, ctx.settings().seed)))
            return;
    }
    ctx.note(format("%d random events in 400 blocks", sent));
}

// ---- Parameters and programs -------------------------------------------------------------------

void paramsTexts(Context& ctx) {
    Instance i(ctx);
    Plugin& p = i.plugin();
    const int32_t count = walkCount(ctx, p.numParams(), 1000);
    int longer = 0, empty = 0, silent = 0;
    std::string example, silentExample;
    auto look = [&](int32_t opcode, int32_t k, const char* what) {
        const Text t = askText(p, opcode, k);
        if (t.untouched) {
            if (!silent++) silentExample = format("parameter %d's %s", k, what);
            return;
        }
        if (!t.terminated) {
            ctx.fail(format("parameter %d's %s is not terminated within 512 bytes", k, what));
            return;
        }
        if (t.text.size() > 8) {
            if (!longer++)
                example = format("parameter %d's %s %s", k, what, quoted(t.text).c_str());
        }
        if (opcode == effGetParamName && t.text.empty()) ++empty;
    };
    for (int32_t k = 0; k < count; ++k) {
        const float original = p.getParameter(k);
        look(effGetParamName, k, "name");
        look(effGetParamLabel, k, "label");
        for (const float v : {0.0f, 0.5f, 1.0f}) {
            p.setParameter(k, v);
            look(effGetParamDisplay, k, "display");
        }
        p.setParameter(k, original);
    }
    if (ctx.strictness() >= 5) {
        for (const int32_t k : {-1, p.numParams(), kIntMax, kIntMin}) {
            for (const int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
                try {
                    // Writing nothing for an index that does not exist is a fine answer.
                    const Text t = askText(p, opcode, k);
                    if (!t.terminated && !t.untouched)
                        ctx.fail(
                            format("a text for parameter %d (out of range) is not terminated", k));
                } catch (const std::exception& e) {
                    ctx.fail(format("asking the text of parameter %d (out of range): a C++ "
                                    "exception escaped the plug-in: %s",
                                    k, e.what()));
                    return;
                }
            }
            (void)p.getParameter(k);
        }
    }
    if (longer)
        ctx.warn(format("%d texts longer than 8 characters, e.g. %s", longer, example.c_str()));
    if (empty) ctx.warn(format("%d parameters without a name", empty));
    if (silent)
        ctx.warn(
            format("%d texts left unwritten (the host's buffer shows whatever it held), e.g. %s",
                   silent, silentExample.c_str()));
    ctx.note(format("%d parameters named, labelled and displayed", count));
}

void paramsString2Parameter(Context& ctx) {
    Instance i(ctx);
    Plugin& p = i.plugin();
    const int32_t count = walkCount(ctx, p.numParams(), 256);
    int supported = 0;
    for (int32_t k = 0; k < count; ++k) {
        const float original = p.getParameter(k);
        for (const float v : {0.25f, 0.75f}) {
            p.setParameter(k, v);
            const std::string shown = p.paramDisplay(k);
            p.setParameter(k, v < 0.5f ? 0.9f : 0.1f);
            std::string typed = shown;
            if (p.dispatch(effString2Parameter, k, 0, typed.data()) == 0) break;
            ++supported;
            const std::string now = p.paramDisplay(k);
            if (now != shown)
                ctx.fault(6, format("parameter %d: its own text %s typed back shows %s", k,
                                    quoted(shown).c_str(), quoted(now).c_str()));
        }
        p.setParameter(k, original);
    }
    ctx.note(supported ? format("%d texts typed back", supported)
                       : std::string("typed values not supported (answers 0)"));
}

void programsNames(Context& ctx) {
    Instance i(ctx);
    Plugin& p = i.plugin();
    const int32_t count = walkCount(ctx, p.numPrograms(), 1024);
    int longer = 0, indexed = 0;
    std::string example;
    for (int32_t k = 0; k < count; ++k) {
        intptr_t answer = 0;
        Text t = askText(p, effGetProgramNameIndexed, k, 0, &answer);
        if (answer == 0) {
            p.setProgram(k);
            t = askText(p, effGetProgramName);
        } else ++indexed;
        if (!t.terminated) {
            ctx.fail(format("program %d's name is not terminated within 512 bytes", k));
            continue;
        }
        if (t.text.size() > 23 && !longer++)
            example = format("program %d %s", k, quoted(t.text).c_str());
    }
    if (longer)
        ctx.warn(format("%d program names longer than 23 characters (hosts give 24 bytes), e.g. %s",
                        longer, example.c_str()));
    // Renaming: a name is kept, and an overlong one is cut to what hosts can read back.
    p.setProgram(0);
    char name[] = "corvex-validate";
    p.dispatch(effSetProgramName, 0, 0, name);
    const Text back = askText(p, effGetProgramName);
    if (back.text != name) ctx.warn("a program name set is read back as " + quoted(back.text));
    std::string huge(300, 'n');
    p.dispatch(effSetProgramName, 0, 0, huge.data());
    const Text cut = askText(p, effGetProgramName);
    if (!cut.terminated) ctx.fail("after an overlong name, the program name is not terminated");
    else if (cut.text.size() > 23)
        ctx.fault(5, format("after a 300-character name, the program name takes %zu bytes of the "
                            "24 hosts give",
                            cut.text.size() + 1));
    ctx.note(format("%d program names (%s)", count,
                    indexed ? "read by index" : "read by selecting each program"));
}

void programsOutOfRange(Context& ctx) {
    Instance i(ctx);
    Plugin& p = i.plugin();
    for (const int32_t k : {-1, p.numPrograms(), kIntMax, kIntMin}) {
        try {
            p.dispatch(effSetProgram, 0, k);
        } catch (const std::exception& e) {
            ctx.fail(format("selecting program %d: a C++ exception escaped the plug-in: %s", k,
                            e.what()));
            return;
        }
        const intptr_t now = p.dispatch(effGetProgram);
        if (now < 0 || now >= std::max(p.numPrograms(), 1))
            ctx.fault(4, format("after selecting program %d the current program is %ld", k,
                                static_cast<long>(now)));
        noteOn(i);
        judge(ctx, i.render(2048), format("after selecting program %d", k));
    }
    ctx.note("programs -1, the count, and both integer ends refused");
}

struct Snapshot {
    int32_t program = 0;
    std::vector<float> values;
    std::vector<char> chunk;
};

Snapshot take(Plugin& p) {
    Snapshot s;
    s.program = p.currentProgram();
    for (int32_t k = 0; k < p.numParams(); ++k) s.values.push_back(p.getParameter(k));
    if (p.effect()->flags & effFlagsProgramChunks) {
        void* data = nullptr;
        const intptr_t size = p.dispatch(effGetChunk, 0, 0, &data);
        if (data && size > 0 && size < (intptr_t{1} << 30))
            s.chunk.assign(static_cast<char*>(data), static_cast<char*>(data) + size);
    }
    return s;
}

void restore(Plugin& p, const Snapshot& s) {
    p.setProgram(s.program);
    if (!s.chunk.empty()) {
        std::vector<char> copy = s.chunk;
        p.dispatch(effSetChunk, 0, static_cast<intptr_t>(copy.size()), copy.data());
    }
    for (int32_t k = 0; k < static_cast<int32_t>(s.values.size()); ++k)
        p.setParameter(k, s.values[static_cast<std::size_t>(k)]);
}

void stateRestore(Context& ctx) {
    std::mt19937& rng = ctx.rng();
    Snapshot saved;
    std::vector<float> original, restored, again;
    std::vector<float> randomValues;
    int32_t program = 0;
    {
        Instance i(ctx);
        Plugin& p = i.plugin();
        program = p.numPrograms() > 0 ? static_cast<int32_t>(rng() % p.numPrograms()) : 0;
        p.setProgram(program);
        for (int32_t k = 0; k < p.numParams(); ++k) {
            randomValues.push_back(static_cast<float>(rng() % 1001) / 1000.0f);
            p.setParameter(k, randomValues.back());
        }
        saved = take(p);
        phrase(i, original);
    }
    {
        Instance i(ctx);
        restore(i.plugin(), saved);
        const Snapshot now = take(i.plugin());
        for (std::size_t k = 0; k < saved.values.size(); ++k) {
            if (std::fabs(now.values[k] - saved.values[k]) > 1e-6f) {
                ctx.fault(5, format("parameter %zu reads %g after restoring %g", k,
                                    static_cast<double>(now.values[k]),
                                    static_cast<double>(saved.values[k])));
                break;
            }
        }
        phrase(i, restored);
    }
    if (maxDifference(original, restored) == 0.0f) {
        ctx.note(format("program %d and %zu values restored%s, identical render", program,
                        saved.values.size(), saved.chunk.empty() ? "" : " with the chunk"));
        return;
    }
    {
        // The same steps as the original: if this differs too, rendering is not repeatable.
        Instance i(ctx);
        i.plugin().setProgram(program);
        for (int32_t k = 0; k < static_cast<int32_t>(randomValues.size()); ++k)
            i.plugin().setParameter(k, randomValues[static_cast<std::size_t>(k)]);
        phrase(i, again);
    }
    if (maxDifference(original, again) > 0.0f)
        ctx.note("render not compared: the plug-in does not render repeatably");
    else ctx.fault(5, "an instance restored from the saved values renders differently");
}

// ---- Threads ---------------------------------------------------------------------------------

void threadsAutomation(Context& ctx) {
    Instance i(ctx, 44100.0, 256);
    Plugin& p = i.plugin();
    AEffect* e = i.effect();
    std::atomic<bool> done{false};
    BlockResult result;
    int blocks = 0;
    std::thread audio([&] {
        while (!done.load(std::memory_order_relaxed)) {
            if (blocks % 64 == 0) noteOn(i, 48 + blocks / 64 % 24);
            result = worst(result, i.block(256));
            ++blocks;
        }
    });
    std::mt19937& rng = ctx.rng();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int changes = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (e->numParams > 0 && e->setParameter) {
            const auto k = static_cast<int32_t>(rng() % static_cast<uint32_t>(e->numParams));
            e->setParameter(e, k, static_cast<float>(rng() % 1001) / 1000.0f);
            char text[512];
            e->dispatcher(e, effGetParamDisplay, k, 0, text, 0.0f);
        }
        if (changes % 50 == 0 && e->numPrograms > 0)
            p.setProgram(static_cast<int32_t>(rng() % static_cast<uint32_t>(e->numPrograms)));
        ++changes;
        if (changes % 16 == 0) std::this_thread::yield();
    }
    done = true;
    audio.join();
    judge(ctx, result, "while a second thread changed parameters and programs");
    ctx.note(format("%d changes during %d blocks", changes, blocks));
}

// ---- Timing ----------------------------------------------------------------------------------

void timingRealtime(Context& ctx) {
    constexpr int32_t kBlock = 512;
    constexpr double kRate = 44100.0;
    Instance i(ctx, kRate, kBlock);
    const int blocks = static_cast<int>((ctx.strictness() >= 5 ? 10.0 : 3.0) * kRate / kBlock);
    double worstSeconds = 0.0, total = 0.0;
    for (int b = 0; b < blocks; ++b) {
        if (b % 172 == 0) noteOn(i, 48 + b / 172 % 24);
        const auto start = std::chrono::steady_clock::now();
        const BlockResult r = i.block(kBlock);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        worstSeconds = std::max(worstSeconds, s);
        total += s;
        if (!judge(ctx, r, format("block %d", b))) return;
    }
    const double budget = kBlock / kRate;
    const std::string figures =
        format("average %.1f%% of real time, worst block %.2f ms of %.2f ms",
               100.0 * total / (blocks * budget), worstSeconds * 1000.0, budget * 1000.0);
    if (worstSeconds > budget) ctx.warn(figures + " (a dropout on a loaded machine?)");
    else ctx.note(figures);
}

}  // namespace

std::vector<CheckDef> pluginChecks() {
    return {
        {"load.entry", 1, false, loadEntry},
        {"load.versions", 1, false, loadVersions},
        {"load.record", 1, false, loadRecord},
        {"load.symbols", 1, false, loadSymbols},
        {"load.identity", 1, false, loadIdentity},
        {"lifecycle.open-close", 1, false, lifeOpenClose},
        {"lifecycle.suspend-resume", 1, false, lifeSuspendResume},
        {"lifecycle.sample-rates", 1, false, lifeSampleRates},
        {"lifecycle.block-sizes", 1, false, lifeBlockSizes},
        {"lifecycle.short-blocks", 2, false, lifeShortBlocks},
        {"audio.silence", 1, false, audioSilence},
        {"audio.programs", 2, false, audioPrograms},
        {"audio.parameter-sweep", 2, false, audioParameterSweep},
        {"audio.process-replacing", 3, false, audioProcessConsistency},
        {"audio.deterministic", 3, false, audioDeterministic},
        {"events.offsets", 2, false, eventsOffsets},
        {"events.last-frame", 2, false, eventsLastFrame},
        {"events.all-notes-off", 2, false, eventsAllNotesOff},
        {"events.pitch-bend", 2, false, eventsPitchBend},
        {"events.random-midi", 3, false, eventsJunk},
        {"params.texts", 1, false, paramsTexts},
        {"params.string2parameter", 3, false, paramsString2Parameter},
        {"programs.names", 1, false, programsNames},
        {"programs.out-of-range", 3, false, programsOutOfRange},
        {"state.restore", 2, false, stateRestore},
        {"threads.automation", 4, false, threadsAutomation},
        {"timing.realtime", 1, false, timingRealtime},
    };
}

}  // namespace validate
