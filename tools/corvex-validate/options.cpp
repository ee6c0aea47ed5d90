// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-validate's command line: PLUGIN.so and a few options, --name=value accepted too.
#include "options.h"

#include <cerrno>
#include <cstdlib>

namespace validate {

namespace {

long long integer(const std::string& option, const std::string& text, long long lo, long long hi) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(option + " needs a whole number, not \"" + text.substr(0, 40) + "\"");
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno != 0 || v < lo || v > hi)
        throw UsageError(option + " must be between " + std::to_string(lo) + " and " +
                         std::to_string(hi));
    return v;
}

}  // namespace

Command parseCommand(const std::vector<std::string>& args) {
    Command c;
    bool plugin = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i], value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasValue = true;
            }
        }
        auto take = [&]() -> std::string {
            if (hasValue) return value;
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            return args[++i];
        };
        auto noValue = [&] {
            if (hasValue) throw UsageError(arg + " takes no value");
        };
        if (arg == "-h" || arg == "--help") noValue(), c.help = true;
        else if (arg == "--version") noValue(), c.version = true;
        else if (arg == "--skip-editor") noValue(), c.settings.skipEditor = true;
        else if (arg == "--verbose" || arg == "-v") noValue(), c.settings.verbose = true;
        else if (arg == "--strictness")
            c.settings.strictness =
                static_cast<int>(integer(arg, take(), kMinStrictness, kMaxStrictness));
        else if (arg == "--seed") {
            c.settings.seed = static_cast<uint32_t>(integer(arg, take(), 0, 4294967295LL));
            c.seedGiven = true;
        } else if (arg == "--json") {
            c.settings.json = take();
            if (c.settings.json.empty()) throw UsageError("--json needs a file name");
        } else if (arg == "--only") c.settings.only = take();
        else if (!arg.empty() && arg[0] == '-' && arg != "-")
            throw UsageError("unknown option " + arg.substr(0, 40));
        else if (plugin) throw UsageError("only one plug-in at a time");
        else {
            c.settings.plugin = arg;
            plugin = true;
        }
    }
    if (!plugin && !c.help && !c.version) throw UsageError("name the plug-in to check");
    return c;
}

const char* helpText() {
    return "usage: corvex-validate PLUGIN.so [--strictness 1..10] [--skip-editor] [--seed N]\n"
           "                       [--json FILE] [--only TEXT] [--verbose]\n"
           "\n"
           "Loads a Linux VST2 plug-in and checks it as a careful host would: loading, open and\n"
           "close cycles, sample rates and block sizes, audio, MIDI events, parameters and\n"
           "programs, saved state, a second thread, the editor on X11, and timing. Each check\n"
           "runs in a process of its own, so a crash fails that check only. Prints one line per\n"
           "check and ends with \"N passed, M failed\"; exit status 1 when any check failed.\n"
           "\n"
           "  PLUGIN.so          a path, or a bare name looked up in LXVST_PATH, ~/.vst,\n"
           "                     /usr/local/lib/vst and /usr/lib/vst\n"
           "  --strictness N     1 (lenient) to 10 (every check, faults fail); default 5\n"
           "  --skip-editor      leave the editor alone (also skipped without a display)\n"
           "  --seed N           the seed of every random choice, to repeat a run\n"
           "  --json FILE        also write the results to FILE as JSON\n"
           "  --only TEXT        run only the checks whose name contains TEXT\n"
           "  --verbose          every finding, and the plug-in's own output\n"
           "  --version, --help\n";
}

}  // namespace validate
