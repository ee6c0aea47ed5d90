// SPDX-License-Identifier: GPL-3.0-or-later
// The standalone's command line and the program names it accepts. Plain functions of their
// arguments: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvex_standalone {

struct Options {
    bool headless = false;
    bool connect = true;
    bool reset = false;
    bool help = false;
    bool version = false;
    std::string program;  // as given; empty: the saved one (or the first)
};

// Fills options from argv; false with error set for anything it does not know.
bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error);
const char* usage();

// The 64 programs' names as the synth lists them ("Init" programs numbered).
std::vector<std::string> programNames();
// The program that text names: an index 0-63, or a name matched exactly, then ignoring case and
// surrounding blanks. -1 when none.
int32_t findProgram(const std::string& text);
// Up to five names close to text (sharing a part of it, or a few typing slips away), closest
// first; for the message about an unknown program.
std::vector<std::string> nearPrograms(const std::string& text);

}  // namespace corvex_standalone
