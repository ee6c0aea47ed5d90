// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the text/uri-list parser that turns a drop into paths. Properties: only absolute
// paths come out, none holding a NUL or longer than the limit, never more than the path limit.
#include "fuzz_input.h"
#include "platform/uri_list.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto paths = platform::parseUriList(text);
    FUZZ_CHECK(paths.size() <= platform::kMaxDropPaths);
    for (const auto& path : paths) {
        FUZZ_CHECK(!path.empty() && path[0] == '/');
        FUZZ_CHECK(path.find('\0') == std::string::npos);
    }
    return 0;
}
