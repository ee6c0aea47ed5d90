// SPDX-License-Identifier: GPL-3.0-or-later
// Command-line parsing for corvex-render.
#include "tools/corvex-render/options.h"

#include "hostkit/notename.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace renderer {

namespace {

const char* const kHelp =
    "Usage: corvex-render [options] -o FILE             render one note (C4 by default)\n"
    "       corvex-render --midi SONG.mid [options] -o FILE\n"
    "       corvex-render --all-programs DIR [options]   one file per program\n"
    "       corvex-render --list [options]               show programs and parameters\n"
    "Hosts a VST2 instrument (Corvex by default) and writes WAV, AIFF, FLAC, CAF or W64.\n"
    "  -o, --output FILE       file to write; its extension picks the file type\n"
    "      --plugin PATH       plug-in .so to host, or its name in the VST folders\n"
    "      --program N|NAME    program by index (from 0) or by name\n"
    "      --set NAME=VALUE    parameter by name or index, value 0..1 (repeatable)\n"
    "      --note NOTE         note number or name, C4 = 60 (default C4)\n"
    "      --velocity V        1..127 (default 100)\n"
    "      --length SEC        how long the note is held (default 2)\n"
    "      --tail SEC          time after the last note-off (default 3)\n"
    "      --midi FILE         play a Standard MIDI File (format 0 or 1) instead\n"
    "      --rate HZ           sample rate, 8000..384000 (default 48000)\n"
    "      --block N           frames per process call, 1..16384 (default 512)\n"
    "      --format F          wav16, wav24 (default) or float\n"
    "      --all-programs DIR  render every program into DIR\n"
    "      --list              list programs and parameters with their values\n"
    "  -q, --quiet             no progress bar and no level report\n"
    "  -h, --help              this text; the full manual: man corvex-render\n"
    "      --version           the program's version\n";

// Options that take a value, in the spelling the user gives them.
bool takesValue(const std::string& name) {
    for (const char* n :
         {"-o", "--output", "--plugin", "--program", "--set", "--note", "--velocity", "--length",
          "--tail", "--midi", "--rate", "--block", "--format", "--all-programs"})
        if (name == n) return true;
    return false;
}

double seconds(const std::string& option, const std::string& text, bool allowZero) {
    const auto v = parseNumber(text);
    if (!v || *v < 0.0 || (!allowZero && *v == 0.0) || *v > kMaxSeconds)
        throw UsageError(option + " wants " + (allowZero ? "0" : "more than 0") +
                         " to 3600 seconds, not " + quotedValue(text));
    return *v;
}

long long integerIn(const std::string& option, const std::string& text, long long lo,
                    long long hi) {
    const auto v = parseInteger(text);
    if (!v || *v < lo || *v > hi)
        throw UsageError(option + " wants a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not " + quotedValue(text));
    return *v;
}

}  // namespace

const char* helpText() { return kHelp; }

namespace {
constexpr std::size_t kShown = 60;
}

std::string shownPath(const std::string& path) {
    return path.size() <= kShown ? path : quotedValue(path);
}

std::string quotedValue(const std::string& text) {
    if (text.size() <= kShown) return "'" + text + "'";
    std::size_t cut = kShown;
    // Back up over continuation bytes so a multi-byte character is kept whole or dropped.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    std::string shown = "'";
    shown.append(text, 0, cut);
    shown.append("\u2026' (");
    shown.append(std::to_string(text.size()));
    shown.append(" bytes)");
    return shown;
}

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty() || text.size() > 64) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v))
        return std::nullopt;
    // strtod also reads hexadecimal and leading blanks; a user means neither.
    for (const char c : text)
        if (c == 'x' || c == 'X' || c == ' ' || c == '\t') return std::nullopt;
    return v;
}

std::optional<long long> parseInteger(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (i == text.size()) return std::nullopt;
    for (std::size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return std::nullopt;
    return std::strtoll(text.c_str(), nullptr, 10);
}

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    bool noteGiven = false;
    bool velocityGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (name.rfind("--", 0) == 0) {
            if (const auto eq = name.find('='); eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
                hasValue = true;
            }
        } else if (name.size() > 2 && name.rfind("-o", 0) == 0) {
            value = name.substr(2);
            name = "-o";
            hasValue = true;
        }
        if (takesValue(name)) {
            if (!hasValue) {
                if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
                value = args[++i];
            }
        } else if (hasValue) {
            throw UsageError(name + " takes no value");
        }

        if (name == "-h" || name == "--help") o.help = true;
        else if (name == "--version") o.version = true;
        else if (name == "--list") o.list = true;
        else if (name == "-q" || name == "--quiet") o.quiet = true;
        else if (name == "-o" || name == "--output") o.output = value;
        else if (name == "--plugin") o.plugin = value;
        else if (name == "--program") o.program = value;
        else if (name == "--set") o.sets.push_back(value);
        else if (name == "--note") {
            o.note = value;
            noteGiven = true;
        } else if (name == "--velocity") {
            o.velocity = static_cast<int>(integerIn(name, value, 1, 127));
            velocityGiven = true;
        } else if (name == "--length") o.length = seconds(name, value, false);
        else if (name == "--tail") o.tail = seconds(name, value, true);
        else if (name == "--midi") o.midi = value;
        else if (name == "--rate")
            o.rate = static_cast<uint32_t>(integerIn(name, value, kMinRate, kMaxRate));
        else if (name == "--block")
            o.block = static_cast<int32_t>(integerIn(name, value, 1, kMaxBlock));
        else if (name == "--format") {
            if (value == "wav16") o.format = SampleFormat::Pcm16;
            else if (value == "wav24") o.format = SampleFormat::Pcm24;
            else if (value == "float") o.format = SampleFormat::Float;
            else
                throw UsageError("--format wants wav16, wav24 or float, not " + quotedValue(value));
        } else if (name == "--all-programs") o.allProgramsDir = value;
        else throw UsageError("unknown option " + quotedValue(name));

        if (takesValue(name) && value.empty()) throw UsageError(name + " needs a value");
    }
    if (o.help || o.version) return o;

    const int modes =
        (o.list ? 1 : 0) + (o.output.empty() ? 0 : 1) + (o.allProgramsDir.empty() ? 0 : 1);
    if (modes == 0)
        throw UsageError("say where to write (-o FILE or --all-programs DIR), or use --list");
    if (modes > 1) throw UsageError("use only one of -o, --all-programs and --list");
    if (!o.allProgramsDir.empty() && o.program)
        throw UsageError("--program and --all-programs cannot be combined");
    const auto note = hostkit::parseNote(o.note);
    if (!note)
        throw UsageError("--note wants a number 0-127 or a name like C4, F#3 or Bb2, not " +
                         quotedValue(o.note));
    o.noteNumber = *note;
    if (!o.midi.empty()) {
        if (noteGiven || velocityGiven || o.length)
            throw UsageError("--note, --velocity and --length play a note; with --midi the file "
                             "gives the notes (use --tail for the time after them)");
    }
    return o;
}

}  // namespace renderer
