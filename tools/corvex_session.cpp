// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-session: runs the scripted host session against a plug-in and writes what it answered.
// The Linux build writes its record beside the plug-in; the Windows host check compares the DLLs'
// answers and samples with it.
//   corvex-session PLUGIN.so OUTPUT.txt
#include "hostkit/plugin.h"
#include "testkit/host_session.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: corvex-session PLUGIN.so OUTPUT.txt\n");
        return 2;
    }
    std::string text;
    try {
        const hostkit::Library library(argv[1]);
        text = session::format(session::record(library.entry()));
    } catch (const hostkit::HostError& e) {
        std::fprintf(stderr, "corvex-session: %s\n", e.what());
        return 1;
    }
    FILE* out = std::fopen(argv[2], "wb");
    const bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out && std::fclose(out) != 0) return 1;
    if (!written) {
        std::fprintf(stderr, "corvex-session: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
