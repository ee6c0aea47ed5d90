// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built corvex-validate and reads what it printed, for the validator's tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace validate_run {

struct Outcome {
    int status = -1;
    std::string out;
};

inline Outcome validate(const std::string& args, const std::string& env = "") {
    const std::string command = env + " '" CORVEX_BINARY_DIR "/corvex-validate' " + args + " 2>&1";
    Outcome r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline std::string lastLine(const std::string& text) {
    std::string s = text;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    const auto nl = s.rfind('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

// Whether a line starts with the outcome word and names the check ("FAIL  params.texts ...").
inline bool hasLine(const std::string& text, const std::string& outcome, const std::string& check) {
    const std::string line = outcome + "  " + check + " ";
    return text.rfind(line, 0) == 0 || text.find("\n" + line) != std::string::npos;
}

inline bool anyLine(const std::string& text, const std::string& outcome) {
    return text.rfind(outcome + "  ", 0) == 0 ||
           text.find("\n" + outcome + "  ") != std::string::npos;
}

// Reads the closing "N passed, M failed"; false when the last line is anything else.
inline bool summary(const std::string& text, int* passed, int* failed) {
    const std::string line = lastLine(text);
    int used = 0;
    return std::sscanf(line.c_str(), "%d passed, %d failed%n", passed, failed, &used) == 2 &&
           static_cast<std::size_t>(used) == line.size();
}

}  // namespace validate_run
