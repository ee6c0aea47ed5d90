// SPDX-License-Identifier: GPL-3.0-or-later
// text/uri-list parsing for drops, with symbolic-link resolution (the Linux form of shortcuts).
#include "platform/uri_list.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool percentDecode(const std::string& in, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        // A raw NUL would cut the path short where the handler reads it as a C string.
        if (in[i] == '\0') return false;
        if (in[i] == '%') {
            const int hi = i + 1 < in.size() ? hexValue(in[i + 1]) : -1;
            const int lo = i + 2 < in.size() ? hexValue(in[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                const char c = static_cast<char>(hi * 16 + lo);
                if (c == '\0') return false;
                *out += c;
                i += 2;
                continue;
            }
        }
        *out += in[i];
    }
    return true;
}

bool localHost(const std::string& host) {
    if (host.empty() || host == "localhost") return true;
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 && host == name;
}

std::string resolveLink(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) return path;
    return resolved;
}

}  // namespace

std::vector<std::string> parseUriList(const std::string& text) {
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start < text.size() && paths.size() < kMaxDropPaths) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line.compare(0, 5, "file:") != 0) continue;
        std::string rest = line.substr(5);
        if (rest.compare(0, 2, "//") == 0) {
            const std::size_t slash = rest.find('/', 2);
            if (slash == std::string::npos) continue;
            if (!localHost(rest.substr(2, slash - 2))) continue;
            rest = rest.substr(slash);
        }
        if (rest.empty() || rest[0] != '/') continue;
        std::string path;
        if (!percentDecode(rest, &path) || path.size() > kMaxPathBytes) continue;
        paths.push_back(resolveLink(path));
    }
    return paths;
}

}  // namespace platform
