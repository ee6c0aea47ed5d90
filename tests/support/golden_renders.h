// SPDX-License-Identifier: GPL-3.0-or-later
// The recorded sound of every factory program (tests/data/golden_renders.txt): one fingerprint
// of one channel per program, compared bit for bit by the tests of the loaded library and of
// each render kernel. Pure functions: any thread.
#pragma once

#include <bit>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

inline const char* const kGoldenRendersPath = CORVEX_SOURCE_DIR "/tests/data/golden_renders.txt";

// FNV-1a over the samples' bytes, low byte first: the same on every machine, and a NaN's
// payload counts.
inline uint64_t fingerprint(const std::vector<float>& samples) {
    uint64_t h = 1469598103934665603ull;
    for (float f : samples) {
        const auto bits = std::bit_cast<uint32_t>(f);
        for (int k = 0; k < 4; ++k) {
            h ^= (bits >> (8 * k)) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    return h;
}

// Program number to fingerprint; empty when the file is missing.
inline std::map<int, uint64_t> readGoldenRenders() {
    std::map<int, uint64_t> golden;
    std::ifstream in(kGoldenRendersPath);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int program = 0;
        std::string hex;
        if (fields >> program >> hex) golden[program] = std::stoull(hex, nullptr, 16);
    }
    return golden;
}

}  // namespace testsupport
