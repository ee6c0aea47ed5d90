// SPDX-License-Identifier: GPL-3.0-or-later
// What a fuzz target does when one of its properties fails: report it and abort.
#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>

void fuzzFailure(const char* what) {
    std::fprintf(stderr, "fuzz property failed: %s\n", what);
    std::abort();
}
