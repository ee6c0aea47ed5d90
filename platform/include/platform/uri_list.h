// SPDX-License-Identifier: GPL-3.0-or-later
// Dropped file lists arrive as text/uri-list: this turns one into local paths.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

constexpr std::size_t kMaxDropPaths = 4096;
constexpr std::size_t kMaxPathBytes = 4096;

// CRLF (or LF) separated URIs; '#' lines are comments. file: URIs on this host (empty host,
// "localhost" or this machine's name) become %-decoded paths; anything else is skipped, as are
// paths holding a NUL or longer than kMaxPathBytes. Symbolic links are resolved; one that cannot
// be resolved is passed on as it is.
std::vector<std::string> parseUriList(const std::string& text);

}  // namespace platform
