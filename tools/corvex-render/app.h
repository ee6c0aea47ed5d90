// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-render as a function: the command line in, files and reports out, an exit status back.
#pragma once

#include "hostkit/plugin.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace renderer {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Runs the renderer on the arguments after the program name; reports go to `out`, progress,
// warnings and errors to `err`.
int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The program a --program argument names: a whole number is an index (from 0); anything else a
// name, matched exactly first, then ignoring case and surrounding blanks. Throws RenderError.
int32_t findProgram(hostkit::Plugin& plugin, const std::string& wanted);

// Resolves "NAME=VALUE" (the name may be an index; the value 0..1) into index and value, matching
// names as findProgram does. Throws RenderError.
std::pair<int32_t, float> findParameter(hostkit::Plugin& plugin, const std::string& assignment);

// A program name made safe as a file name on any common file system: letters, digits, '-', '_'
// and '.' kept, runs of anything else become one '_', no leading or trailing '_' or '.', at most
// 64 characters; "program" when nothing is left.
std::string safeFileName(const std::string& name);

}  // namespace renderer
