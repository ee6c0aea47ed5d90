// Runs the built corvex-validate and reads what it printed, for the validator's tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <regex>
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

inline bool hasLine(const std::string& text, const std::string& outcome, const std::string& check) {
    return std::regex_search(text, std::regex("(^|\n)" + outcome + "  " + check + " "));
}

}  // namespace validate_run
