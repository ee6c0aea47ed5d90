// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-validate: checks a Linux VST2 plug-in as a careful host would (see --help).
#include "options.h"
#include "runner.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    validate::Command command;
    try {
        command = validate::parseCommand(args);
    } catch (const validate::UsageError& e) {
        std::fprintf(stderr, "corvex-validate: %s (see --help)\n", e.what());
        return 2;
    }
    if (command.help) {
        std::fputs(validate::helpText(), stdout);
        return 0;
    }
    if (command.version) {
        std::printf("corvex-validate %s\n", CORVEX_VERSION);
        return 0;
    }
    validate::Settings settings = command.settings;
    settings.plugin = hostkit::resolvePluginPath(settings.plugin);
    if (!command.seedGiven)
        settings.seed = static_cast<uint32_t>(
            std::chrono::system_clock::now().time_since_epoch().count() & 0xFFFFFFFF);
    std::printf("corvex-validate %s: %s, strictness %d, seed %u\n", CORVEX_VERSION,
                settings.plugin.c_str(), settings.strictness, settings.seed);
    std::fflush(stdout);
    return validate::runAll(settings, stdout) == 0 ? 0 : 1;
}
