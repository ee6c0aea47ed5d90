// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the checks, each in a child process, and reports them: one line each, JSON on request.
#pragma once

#include "validate.h"

#include <cstdio>
#include <string>
#include <vector>

namespace validate {

struct CheckResult {
    std::string name;
    char outcome = 'P';  // P pass, W pass with warnings, F fail, S skipped
    std::vector<std::string> failures, warnings, notes;
    std::string skipped;
    double seconds = 0.0;
};

// Runs one check in a child process, which must report within timeoutSeconds.
CheckResult runIsolated(const CheckDef& check, const Settings& settings, int timeoutSeconds);

// Runs every check that applies, printing a line per check to `out` as it finishes and the
// summary "N passed, M failed" last. Returns the number of failed checks.
int runAll(const Settings& settings, std::FILE* out);

bool writeJson(const std::string& path, const Settings& settings,
               const std::vector<CheckResult>& results);

}  // namespace validate
