// SPDX-License-Identifier: GPL-3.0-or-later
// Command-line parsing and program look-up.
#include "standalone/options.h"

#include "core/params.h"
#include "core/synth.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace corvex_standalone {

namespace {

std::string folded(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    std::string out = text.substr(begin, end - begin);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Edits (insert, delete, replace) from a to b; both are short names.
std::size_t distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

const char* usage() {
    return "usage: corvex [--headless] [--no-connect] [--program NAME|N] [--reset]\n"
           "  --headless      no window: a sound module, quit with Ctrl-C (SIGINT) or SIGTERM\n"
           "  --no-connect    leave every JACK connection to you\n"
           "  --program P     start on program P: its number (0-63) or its name\n"
           "  --reset         start from the factory bank, not the sound saved last time\n"
           "  --help, --version\n";
}

bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg == "--headless") options.headless = true;
        else if (arg == "--no-connect") options.connect = false;
        else if (arg == "--reset") options.reset = true;
        else if (arg == "-h" || arg == "--help") options.help = true;
        else if (arg == "--version") options.version = true;
        else if (arg.rfind("--program=", 0) == 0) options.program = arg.substr(10);
        else if (arg == "--program") {
            if (i + 1 >= argc || !argv[i + 1]) {
                error = "--program needs a program name or number";
                return false;
            }
            options.program = argv[++i];
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (arg.rfind("--program", 0) == 0 && options.program.empty()) {
            error = "--program needs a program name or number";
            return false;
        }
    }
    return true;
}

std::vector<std::string> programNames() {
    static const CorvexSynth bank;
    std::vector<std::string> names;
    for (int32_t i = 0; i < kNumPrograms; ++i) {
        char name[kProgramNameSize] = {};
        bank.getProgramNameIndexed(i, name);
        names.emplace_back(name);
    }
    return names;
}

int32_t findProgram(const std::string& text) {
    if (!text.empty() && text.size() <= 3 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int32_t n = std::stoi(text);
        return n < kNumPrograms ? n : -1;
    }
    const std::vector<std::string> names = programNames();
    for (int32_t i = 0; i < kNumPrograms; ++i)
        if (names[i] == text) return i;
    const std::string wanted = folded(text);
    if (wanted.empty()) return -1;
    for (int32_t i = 0; i < kNumPrograms; ++i)
        if (folded(names[i]) == wanted) return i;
    return -1;
}

std::vector<std::string> nearPrograms(const std::string& text) {
    const std::string wanted = folded(text.substr(0, 64));
    std::vector<std::pair<std::size_t, std::string>> scored;
    for (const std::string& name : programNames()) {
        const std::string f = folded(name);
        std::size_t score = distance(wanted, f);
        // "rain" finds "Rain-2": a name holding the text (or held by it) counts as close.
        if (!wanted.empty() && (f.find(wanted) != std::string::npos ||
                                (f.size() >= 3 && wanted.find(f) != std::string::npos)))
            score = 0;
        if (score <= std::max<std::size_t>(2, wanted.size() / 3))
            if (std::none_of(scored.begin(), scored.end(),
                             [&](const auto& s) { return s.second == name; }))
                scored.emplace_back(score, name);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (std::size_t i = 0; i < scored.size() && i < 5; ++i) out.push_back(scored[i].second);
    return out;
}

}  // namespace corvex_standalone
