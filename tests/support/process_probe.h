// SPDX-License-Identifier: GPL-3.0-or-later
// What the window tests count and wait on in their own process: open descriptors, X connections
// (sockets), real sleeps, and input driven from a forked child while the test's thread sits in
// an editor's tracking loop. Test support for Linux.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testsupport {

inline int openFds() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// Every socket this process holds, its X connections among them.
inline int socketFds() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            char link[64] = {};
            const std::string path = std::string("/proc/self/fd/") + e->d_name;
            if (readlink(path.c_str(), link, sizeof link - 1) > 0 &&
                std::string(link).rfind("socket:", 0) == 0)
                ++n;
        }
        closedir(d);
    }
    return n;
}

// A real sleep: a test on the in-memory platform layer has a clock that only pretends.
inline void sleepMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

// Runs fn in a child process (the test's own thread is blocked in the editor's tracking loop
// while the pointer moves) and returns its pid.
template <typename Fn> pid_t inChildProcess(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        fn();
        _exit(0);
    }
    return pid;
}

inline bool finished(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

// A parameter value as the editor's fields show it.
inline std::string valueText(float v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%0.6f", static_cast<double>(v));
    return buffer;
}

}  // namespace testsupport
