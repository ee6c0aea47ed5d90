// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-render's entry point; everything else lives in app.cpp so tests can reach it.
#include "tools/corvex-render/app.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return renderer::run(args, stdout, stderr);
}
