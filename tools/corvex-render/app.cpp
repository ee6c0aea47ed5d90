// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-render: renders notes and MIDI files through a VST2 instrument into audio files.
#include "tools/corvex-render/app.h"

#include "tools/corvex-render/audiofile.h"
#include "hostkit/midifile.h"
#include "tools/corvex-render/options.h"
#include "hostkit/render.h"
#include "core/kernel.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#ifndef CORVEX_VERSION
#define CORVEX_VERSION "unknown"
#endif

namespace renderer {

namespace {

using hostkit::Plugin;

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Index of `wanted` among `names`: exact first, then ignoring case and surrounding blanks.
std::optional<int32_t> matchName(const std::vector<std::string>& names, const std::string& wanted) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == wanted) return static_cast<int32_t>(i);
    const std::string w = trimmed(wanted);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (sameIgnoringCase(trimmed(names[i]), w)) return static_cast<int32_t>(i);
    return std::nullopt;
}

std::string quoted(const std::string& s) { return quotedValue(s); }

// A length of time as hours, minutes and seconds, e.g. "4 h 0 min 3.000 s".
std::string duration(double seconds) {
    const auto whole = static_cast<int64_t>(seconds);
    const double rest = seconds - static_cast<double>(whole - whole % 60);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld h %lld min %.3f s", static_cast<long long>(whole / 3600),
                  static_cast<long long>(whole % 3600 / 60), rest);
    return buf;
}

// A one-line bar on a terminal; nothing at all otherwise.
class ProgressBar {
public:
    ProgressBar(std::FILE* stream, bool wanted)
        : stream(stream), enabled(wanted && ::isatty(::fileno(stream)) != 0) {}
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void start(std::string what) {
        label = std::move(what);
        shown = -1;
    }
    void update(int64_t done, int64_t total) {
        if (!enabled || total <= 0) return;
        const int percent = static_cast<int>(done * 100 / total);
        if (percent == shown) return;
        shown = percent;
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        std::fprintf(stream, "\r%.40s [%.*s%*s] %3d%%", label.c_str(), filled,
                     "##############################", kWidth - filled, "", percent);
        std::fflush(stream);
        drawn = true;
    }
    void finish() {
        if (!drawn) return;
        std::fputs("\r\033[K", stream);
        std::fflush(stream);
        drawn = false;
    }

private:
    std::FILE* stream;
    bool enabled;
    bool drawn = false;
    int shown = -1;
    std::string label;
};

// What to play: events at frames, and how many frames to render.
struct Score {
    std::vector<hostkit::TimedMidiEvent> events;
    int64_t totalFrames = 0;
};

Score scoreFor(const Options& o) {
    const double rate = o.rate;
    const auto tailFrames = static_cast<int64_t>(std::llround(o.tailSeconds() * rate));
    Score score;
    if (o.midi.empty()) {
        const auto offFrame = static_cast<int64_t>(std::llround(o.lengthSeconds() * rate));
        if (offFrame < 1) throw UsageError("--length is shorter than one sample");
        score.events = hostkit::noteEvents(o.noteNumber, o.velocity, offFrame);
        score.totalFrames = offFrame + tailFrames;
        return score;
    }
    const auto midi = hostkit::MidiFile::load(o.midi);
    score.events = midi.schedule(o.rate);
    if (score.events.empty())
        throw RenderError(shownPath(o.midi) +
                          ": the file holds no notes, controllers or pitch bends to play");
    const int64_t end = score.events.back().frame;
    const auto maxFrames = static_cast<int64_t>(kMaxRenderSeconds * rate);
    if (end > maxFrames - tailFrames) {
        // Both lengths in full, so a song just over the limit never reads as equal to it.
        const int64_t over = end + tailFrames - maxFrames;
        char overText[64];
        if (over >= static_cast<int64_t>(rate / 1000))
            std::snprintf(overText, sizeof overText, "%.3f s", static_cast<double>(over) / rate);
        else std::snprintf(overText, sizeof overText, "%lld samples", static_cast<long long>(over));
        std::string message =
            o.midi + ": the song lasts " + duration(static_cast<double>(end) / rate);
        if (tailFrames > 0)
            message +=
                ", " + duration(static_cast<double>(end + tailFrames) / rate) + " with its tail";
        message += std::string(": ") + overText +
                   " over the limit, as corvex-render renders at most 4 hours (4 h 0 min 0.000 s)";
        if (end <= maxFrames) message += "; a shorter --tail would fit";
        throw RenderError(message);
    }
    score.totalFrames = end + tailFrames;
    if (score.totalFrames == 0) score.totalFrames = 1;
    return score;
}

std::string pluginPathFor(const Options& o) {
    if (!o.plugin.empty()) return hostkit::resolvePluginPath(o.plugin);
    std::string path = hostkit::findDefaultPlugin();
    if (path.empty())
        throw RenderError("corvex.so was found neither beside corvex-render nor in the VST "
                          "folders; name a plug-in with --plugin PATH");
    return path;
}

// Opens (and perhaps starts) a fresh instance, then selects the program — the one given, else
// the one --program names — and applies the parameters.
std::unique_ptr<Plugin> preparedInstance(const hostkit::Library& library, const Options& o,
                                         std::optional<int32_t> program, bool start) {
    auto plugin = std::make_unique<Plugin>(library);
    plugin->open(o.rate, o.block);
    if (start) plugin->start();
    if (!program && o.program) program = findProgram(*plugin, *o.program);
    if (program) plugin->setProgram(*program);
    // Resolve every assignment before applying any, so a bad one changes nothing.
    std::vector<std::pair<int32_t, float>> values;
    for (const auto& s : o.sets) values.push_back(findParameter(*plugin, s));
    for (const auto& [index, value] : values) plugin->setParameter(index, value);
    return plugin;
}

struct RenderReport {
    LevelMeter levels;
    double wallSeconds = 0.0;
};

RenderReport renderToFile(Plugin& plugin, const Score& score, const std::string& path,
                          SampleFormat format, uint32_t rate, ProgressBar& bar) {
    const int channels = plugin.numOutputs();
    AudioFileWriter writer(path, format, channels, rate, score.totalFrames);
    std::vector<float> interleaved(static_cast<std::size_t>(channels) *
                                   static_cast<std::size_t>(plugin.blockSize()));
    RenderReport report;
    const auto begin = std::chrono::steady_clock::now();
    hostkit::render(
        plugin, score.events, score.totalFrames,
        [&](const float* const* data, int32_t frames) {
            for (int32_t i = 0; i < frames; ++i)
                for (int c = 0; c < channels; ++c)
                    interleaved[static_cast<std::size_t>(i) * channels + c] = data[c][i];
            report.levels.add(interleaved.data(), static_cast<std::size_t>(frames) * channels);
            writer.write(interleaved.data(), frames);
        },
        [&](int64_t done, int64_t total) { bar.update(done, total); });
    plugin.stop();
    report.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    bar.finish();
    writer.commit();
    return report;
}

void printReport(std::FILE* out, std::FILE* err, const Options& o, const std::string& path,
                 const Plugin& plugin, const Score& score, SampleFormat format,
                 const RenderReport& r) {
    const double seconds = static_cast<double>(score.totalFrames) / o.rate;
    if (!o.quiet) {
        std::fprintf(out, "%s: %.3f s, %u Hz, %d ch, %s; peak %s dBFS, RMS %s dBFS", path.c_str(),
                     seconds, o.rate, plugin.numOutputs(), describeFormat(path, format).c_str(),
                     formatDb(r.levels.peakDb()).c_str(), formatDb(r.levels.rmsDb()).c_str());
        if (r.wallSeconds > 0.0) std::fprintf(out, "; %.0fx real time", seconds / r.wallSeconds);
        std::fputc('\n', out);
    }
    if (r.levels.nonFinite() > 0)
        std::fprintf(err,
                     "corvex-render: warning: %s: the plug-in produced %lld non-finite "
                     "samples; they were written as silence\n",
                     path.c_str(), static_cast<long long>(r.levels.nonFinite()));
    if (r.levels.clipped())
        std::fprintf(err, "corvex-render: warning: %s: peak %s dBFS is above full scale; %s\n",
                     path.c_str(), formatDb(r.levels.peakDb()).c_str(),
                     format == SampleFormat::Float
                         ? "the float file keeps it, but it will clip when played"
                         : "the integer samples were clipped");
}

void listPlugin(std::FILE* out, const hostkit::Library& library, const Options& o) {
    auto plugin = preparedInstance(library, o, std::nullopt, false);
    const std::string name = plugin->effectName();
    const std::string vendor = plugin->vendorName();
    std::fprintf(out, "%s%s%s  (%s, entry %s)\n", name.empty() ? "(unnamed plug-in)" : name.c_str(),
                 vendor.empty() ? "" : " by ", vendor.c_str(), library.path().c_str(),
                 library.entryName().c_str());
    std::fprintf(out, "%s, %d inputs, %d outputs, %d programs, %d parameters\n",
                 plugin->isSynth() ? "instrument" : "effect", plugin->numInputs(),
                 plugin->numOutputs(), plugin->numPrograms(), plugin->numParams());
    if (plugin->numPrograms() > 0) {
        std::fprintf(out, "\nPrograms:\n");
        for (int32_t i = 0; i < plugin->numPrograms(); ++i)
            std::fprintf(out, "  %3d  %s\n", i, plugin->programName(i).c_str());
    }
    if (plugin->numParams() > 0) {
        const int32_t current = plugin->currentProgram();
        std::fprintf(out, "\nParameters (program %d):\n", current);
        std::vector<std::string> names;
        std::size_t width = 0;
        for (int32_t i = 0; i < plugin->numParams(); ++i) {
            names.push_back(plugin->paramName(i));
            width = std::max(width, names.back().size());
        }
        width = std::min<std::size_t>(width, 40);
        for (int32_t i = 0; i < plugin->numParams(); ++i) {
            const std::string label = trimmed(plugin->paramLabel(i));
            std::fprintf(out, "  %3d  %-*s  %s%s%s\n", i, static_cast<int>(width),
                         names[static_cast<std::size_t>(i)].c_str(),
                         plugin->paramDisplay(i).c_str(), label.empty() ? "" : " ", label.c_str());
        }
    }
}

int runChecked(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    const Options o = parseOptions(args);
    if (o.help) {
        std::fputs(helpText(), out);
        return kExitOk;
    }
    if (o.version) {
        std::fprintf(out, "corvex-render %s\n", CORVEX_VERSION);
        // The kernel Corvex's engine renders with in this process on this CPU: the plug-in
        // makes the same choice from the same CPU features and CORVEX_KERNEL.
        const char* requested = requestedKernel();
        if (*requested && std::strcmp(requested, activeKernel().name) != 0)
            std::fprintf(out, "engine kernel: %s (CORVEX_KERNEL=%s is not available here)\n",
                         activeKernel().name, requested);
        else std::fprintf(out, "engine kernel: %s\n", activeKernel().name);
        return kExitOk;
    }
    const SampleFormat format = o.format.value_or(SampleFormat::Pcm24);
    if (!o.output.empty()) containerFor(o.output, format);

    // The cheap checks first: nothing is loaded until the score is known to be playable.
    std::optional<Score> score;
    if (!o.list) score = scoreFor(o);

    const hostkit::Library library(pluginPathFor(o));
    if (o.list) {
        listPlugin(out, library, o);
        return kExitOk;
    }

    ProgressBar bar(err, !o.quiet);
    if (!o.output.empty()) {
        auto plugin = preparedInstance(library, o, std::nullopt, true);
        if (plugin->numOutputs() < 1) throw RenderError(library.path() + " has no audio outputs");
        bar.start(o.output);
        const auto report = renderToFile(*plugin, *score, o.output, format, o.rate, bar);
        printReport(out, err, o, o.output, *plugin, *score, format, report);
        return kExitOk;
    }

    // Every program into one folder, each from a fresh instance so no sound or state carries
    // over from the program before.
    std::error_code ec;
    std::filesystem::create_directories(o.allProgramsDir, ec);
    if (ec || !std::filesystem::is_directory(o.allProgramsDir))
        throw RenderError("cannot create the folder " + shownPath(o.allProgramsDir) +
                          (ec ? ": " + ec.message() : std::string()));
    int32_t count = 0;
    std::vector<std::string> names;
    {
        Plugin probe(library);
        count = probe.numPrograms();
        for (int32_t i = 0; i < count; ++i) names.push_back(probe.programName(i));
    }
    if (count == 0) throw RenderError(library.path() + " has no programs to render");
    const int digits = count > 100 ? static_cast<int>(std::to_string(count - 1).size()) : 2;
    for (int32_t i = 0; i < count; ++i) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%0*d-", digits, i);
        const std::string path =
            (std::filesystem::path(o.allProgramsDir) /
             (prefix + safeFileName(names[static_cast<std::size_t>(i)]) + ".wav"))
                .string();
        auto plugin = preparedInstance(library, o, i, true);
        if (plugin->numOutputs() < 1) throw RenderError(library.path() + " has no audio outputs");
        bar.start(std::to_string(i + 1) + "/" + std::to_string(count) + " " +
                  trimmed(names[static_cast<std::size_t>(i)]));
        const auto report = renderToFile(*plugin, *score, path, format, o.rate, bar);
        printReport(out, err, o, path, *plugin, *score, format, report);
    }
    return kExitOk;
}

}  // namespace

int32_t findProgram(Plugin& plugin, const std::string& wanted) {
    const int32_t count = plugin.numPrograms();
    if (count == 0) throw RenderError("the plug-in has no programs to choose from");
    if (const auto n = parseInteger(wanted)) {
        if (*n < 0 || *n >= count)
            throw RenderError("there is no program " + quoted(wanted) +
                              ": the plug-in's programs are 0 to " + std::to_string(count - 1));
        return static_cast<int32_t>(*n);
    }
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) names.push_back(plugin.programName(i));
    if (const auto i = matchName(names, wanted)) return *i;
    throw RenderError("the plug-in has no program named " + quoted(wanted) +
                      "; --list shows the programs");
}

std::pair<int32_t, float> findParameter(Plugin& plugin, const std::string& assignment) {
    const auto eq = assignment.rfind('=');
    if (eq == std::string::npos || trimmed(assignment.substr(0, eq)).empty())
        throw RenderError("--set wants NAME=VALUE, not " + quoted(assignment));
    const std::string name = trimmed(assignment.substr(0, eq));
    const std::string valueText = trimmed(assignment.substr(eq + 1));
    const int32_t count = plugin.numParams();
    int32_t index = -1;
    if (const auto n = parseInteger(name)) {
        if (*n < 0 || *n >= count)
            throw RenderError(
                "there is no parameter " + name + ": the plug-in's parameters are " +
                (count == 0 ? std::string("none") : "0 to " + std::to_string(count - 1)));
        index = static_cast<int32_t>(*n);
    } else {
        std::vector<std::string> names;
        names.reserve(static_cast<std::size_t>(count));
        for (int32_t i = 0; i < count; ++i) names.push_back(plugin.paramName(i));
        const auto found = matchName(names, name);
        if (!found)
            throw RenderError("the plug-in has no parameter named " + quoted(name) +
                              "; --list shows the parameters");
        index = *found;
    }
    const auto value = parseNumber(valueText);
    if (!value || *value < 0.0 || *value > 1.0)
        throw RenderError("--set " + name + " wants a value from 0 to 1, not " + quoted(valueText));
    return {index, static_cast<float>(*value)};
}

std::string safeFileName(const std::string& name) {
    std::string out;
    bool gap = false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.') {
            if (gap && !out.empty()) out += '_';
            gap = false;
            out += c;
        } else {
            gap = true;
        }
        if (out.size() >= 64) break;
    }
    while (!out.empty() && (out.back() == '_' || out.back() == '.')) out.pop_back();
    std::size_t lead = 0;
    while (lead < out.size() && (out[lead] == '_' || out[lead] == '.')) ++lead;
    out.erase(0, lead);
    return out.empty() ? "program" : out;
}

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    try {
        return runChecked(args, out, err);
    } catch (const UsageError& e) {
        std::fprintf(err, "corvex-render: %s\nTry 'corvex-render --help' for the options.\n",
                     e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(err, "corvex-render: %s\n", e.what());
        return kExitFailure;
    }
}

}  // namespace renderer
