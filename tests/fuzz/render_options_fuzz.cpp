// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: corvex-render's command-line parser, fed argument lists split from the input at
// NUL bytes. Properties: a list is either refused with UsageError or gives options within their
// stated ranges; the quoting helper cuts any text to a readable, valid length.
#include "fuzz_input.h"
#include "tools/corvex-render/options.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) args.emplace_back();
        else args.back().push_back(static_cast<char>(data[i]));
    }
    for (const auto& a : args) FUZZ_CHECK(renderer::quotedValue(a).size() <= a.size() + 64);
    renderer::Options o;
    try {
        o = renderer::parseOptions(args);
    } catch (const renderer::UsageError&) {
        return 0;
    }
    if (o.help || o.version) return 0;
    FUZZ_CHECK(o.rate >= renderer::kMinRate && o.rate <= renderer::kMaxRate);
    FUZZ_CHECK(o.block >= 1 && o.block <= renderer::kMaxBlock);
    FUZZ_CHECK(o.velocity >= 1 && o.velocity <= 127);
    FUZZ_CHECK(o.noteNumber >= 0 && o.noteNumber <= 127);
    FUZZ_CHECK(o.lengthSeconds() >= 0 && o.lengthSeconds() <= renderer::kMaxSeconds);
    FUZZ_CHECK(o.tailSeconds() >= 0 && o.tailSeconds() <= renderer::kMaxSeconds);
    return 0;
}
