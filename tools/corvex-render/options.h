// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-render's command line: what the user asked for, checked before anything is loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace renderer {

// A mistake in the command line; reported with a pointer to --help and exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Anything else that stops a render; exit status 1.
class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SampleFormat { Pcm16, Pcm24, Float };

constexpr double kDefaultLength = 2.0;
constexpr double kDefaultTail = 3.0;
// A note is held and released for at most an hour each; a whole render lasts at most four.
constexpr double kMaxSeconds = 3600.0;
constexpr double kMaxRenderSeconds = 4 * 3600.0;
constexpr uint32_t kMinRate = 8000;
constexpr uint32_t kMaxRate = 384000;
constexpr int32_t kMaxBlock = 16384;

struct Options {
    bool help = false;
    bool version = false;
    bool list = false;
    bool quiet = false;
    std::string plugin;                  // empty: Corvex, found beside the program or installed
    std::optional<std::string> program;  // index or name
    std::vector<std::string> sets;       // "NAME=VALUE", applied in order after the program
    std::string note = "C4";
    int noteNumber = 60;  // the note, parsed
    int velocity = 100;
    std::optional<double> length;  // seconds; only with a note
    std::optional<double> tail;    // seconds
    uint32_t rate = 48000;
    int32_t block = 512;
    std::optional<SampleFormat> format;
    std::string output;
    std::string midi;
    std::string allProgramsDir;

    double lengthSeconds() const { return length.value_or(kDefaultLength); }
    double tailSeconds() const { return tail.value_or(kDefaultTail); }
};

// Parses the arguments after the program name. Throws UsageError for unknown options, missing
// or malformed values, out-of-range numbers and contradictory combinations.
Options parseOptions(const std::vector<std::string>& args);

// The screen-sized summary printed by --help.
const char* helpText();

// A value the user typed, quoted for an error message and cut to a readable length with "…"
// (never inside a UTF-8 character).
std::string quotedValue(const std::string& text);
// A path for a message: as it is when short, cut and quoted like quotedValue when long.
std::string shownPath(const std::string& path);

// Strict number parsing: the whole text must be one finite number.
std::optional<double> parseNumber(const std::string& text);
std::optional<long long> parseInteger(const std::string& text);

}  // namespace renderer
