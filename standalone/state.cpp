// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the remembered sound.
#include "standalone/state.h"

#include "standalone/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex_standalone {

namespace {

constexpr std::size_t kMaxFileSize = std::size_t{64} * 1024;

// Creates every missing folder of dir (like mkdir -p); true when it exists afterwards.
bool makeFolders(const std::string& dir) {
    for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool parseFloat(const std::string& text, float& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(text.c_str(), &end);
    if (errno != 0 || !end || *end != '\0') return false;
    value = v;
    return true;
}

}  // namespace

std::string statePath() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    // The XDG rules ignore a relative path.
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/corvex/state";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.local/state/corvex/state";
    return {};
}

SavedSound::SavedSound() { std::fill(std::begin(controllers), std::end(controllers), -1); }

namespace {

// The whole file, or false (problem set, missing telling ENOENT apart) when it cannot be read or
// is larger than a state file can be.
bool readState(const std::string& path, std::string& text, bool& missing, std::string& problem) {
    missing = false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        missing = errno == ENOENT;
        problem = std::string("cannot read it: ") + std::strerror(errno);
        return false;
    }
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text.size() <= kMaxFileSize)
        text.append(chunk, got);
    std::fclose(file);
    if (text.size() > kMaxFileSize) {
        problem = "it is larger than a state file can be";
        return false;
    }
    return true;
}

int32_t parameterBySymbol(const std::string& symbol) {
    for (int32_t i = 0; i < kNumParams; ++i)
        if (symbol == kParamInfo[i].symbol) return i;
    return -1;
}

// "N symbol" of a learn line: false for anything else, so that the line is skipped.
bool parseLearn(const std::string& rest, int32_t& controller, int32_t& parameter) {
    const std::size_t space = rest.find(' ');
    if (space == std::string::npos || space == 0 || space > 3) return false;
    const std::string number = rest.substr(0, space);
    if (number.find_first_not_of("0123456789") != std::string::npos) return false;
    controller = std::atoi(number.c_str());
    parameter = parameterBySymbol(rest.substr(space + 1));
    return controller < 128 && controller != 123 && controller != 126 && parameter >= 0;
}

// Reads every line of text into read: the learn lines always, the sound until its first damage
// (problem says where). True when the sound is complete and well formed.
bool parseState(const std::string& text, SavedSound& read, std::string& problem) {
    bool haveProgram = false;
    bool damaged = false;
    uint32_t seen = 0;
    int lineNumber = 0;
    std::size_t pos = 0;
    const auto damage = [&](const std::string& why) {
        if (!damaged) problem = "line " + std::to_string(lineNumber) + ": " + why;
        damaged = true;
    };
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "learn") {
            int32_t controller = -1, parameter = -1;
            if (!parseLearn(rest, controller, parameter)) continue;
            // One controller per parameter and one parameter per controller: the later line wins.
            for (int32_t& c : read.controllers)
                if (c == controller) c = -1;
            read.controllers[parameter] = controller;
            continue;
        }
        if (damaged) continue;
        if (key == "program") {
            // "program N name": the number decides; the name is for the reader.
            const std::string number = rest.substr(0, rest.find(' '));
            const int32_t program = findProgram(number);
            if (haveProgram || number.empty() || program < 0 ||
                number.find_first_not_of("0123456789") != std::string::npos) {
                damage("not a program number from 0 to 63");
                continue;
            }
            read.program = program;
            haveProgram = true;
            continue;
        }
        const int32_t index = parameterBySymbol(key);
        if (index < 0) {
            damage("unknown setting '" + key.substr(0, 40) + "'");
            continue;
        }
        float value = 0.0f;
        if ((seen & (1u << index)) || !parseFloat(rest, value) || !std::isfinite(value) ||
            value < 0.0f || value > 1.0f) {
            damage(key + " needs one value from 0 to 1");
            continue;
        }
        read.values[index] = value;
        seen |= 1u << index;
    }
    if (damaged) return false;
    if (!haveProgram || seen != (1u << kNumParams) - 1) {
        problem = "it is incomplete (the program and all fourteen values are needed)";
        return false;
    }
    return true;
}

}  // namespace

LoadResult loadSound(const std::string& path, SavedSound& sound, std::string& problem) {
    std::string text;
    bool missing = false;
    if (!readState(path, text, missing, problem))
        return missing ? LoadResult::missing : LoadResult::corrupt;
    SavedSound read;
    if (!parseState(text, read, problem)) return LoadResult::corrupt;
    sound = read;
    return LoadResult::loaded;
}

void loadControllers(const std::string& path, int32_t (&controllers)[kNumParams]) {
    std::string text, problem;
    bool missing = false;
    SavedSound read;
    if (readState(path, text, missing, problem)) parseState(text, read, problem);
    std::copy(std::begin(read.controllers), std::end(read.controllers), std::begin(controllers));
}

bool saveSound(const std::string& path, const SavedSound& sound, std::string& problem) {
    const std::size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos) {
        problem = "no folder to keep it in (neither XDG_STATE_HOME nor HOME is set)";
        return false;
    }
    const std::string dir = path.substr(0, slash);
    if (!makeFolders(dir)) {
        problem = "cannot create " + dir + ": " + std::strerror(errno);
        return false;
    }
    const std::vector<std::string> names = programNames();
    const int32_t program = sound.program >= 0 && sound.program < kNumPrograms ? sound.program : 0;
    std::string text = "# Corvex: the sound at the last quit (program number, then the values)\n";
    text += "program " + std::to_string(program) + " " + names[program] + "\n";
    for (int32_t i = 0; i < kNumParams; ++i) {
        // The fewest digits that read back as the same float (nine always do): 0.1, not
        // 0.100000001.
        char number[32] = {};
        for (int digits = 6; digits <= 9; ++digits) {
            std::snprintf(number, sizeof number, "%.*g", digits,
                          static_cast<double>(sound.values[i]));
            if (std::strtof(number, nullptr) == sound.values[i]) break;
        }
        text += std::string(kParamInfo[i].symbol) + " " + number + "\n";
    }
    for (int32_t i = 0; i < kNumParams; ++i) {
        const int32_t controller = sound.controllers[i];
        if (controller >= 0 && controller < 128 && controller != 123 && controller != 126)
            text += "learn " + std::to_string(controller) + " " + kParamInfo[i].symbol + "\n";
    }

    std::string temp = dir + "/.state.XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        problem = "cannot write in " + dir + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    const int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    problem = "cannot write " + path + ": " + std::strerror(ok ? errno : saved);
    unlink(temp.c_str());
    return false;
}

}  // namespace corvex_standalone
