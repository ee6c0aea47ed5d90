// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-validate's command line.
#pragma once

#include "validate.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace validate {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Command {
    Settings settings;
    bool help = false;
    bool version = false;
    bool seedGiven = false;
};

// Throws UsageError for unknown options, missing or malformed values and a missing plug-in.
Command parseCommand(const std::vector<std::string>& args);
const char* helpText();

}  // namespace validate
