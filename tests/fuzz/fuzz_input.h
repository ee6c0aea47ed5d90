// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a fuzzer's bytes into the values a target needs: integers, extremes and floats of every
// class, texts. Reading past the end yields zeros, so every input is a complete program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : data(data), size(size) {}

    bool empty() const { return pos >= size; }
    std::size_t remaining() const { return pos < size ? size - pos : 0; }

    uint8_t u8() { return pos < size ? data[pos++] : 0; }
    bool boolean() { return (u8() & 1) != 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(u8()) << (8 * i);
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // 0 .. bound-1 (bound > 0).
    uint32_t below(uint32_t bound) { return bound <= 256 ? u8() % bound : u32() % bound; }

    // Mostly the values that break boundaries, sometimes anything.
    int32_t interestingInt() {
        static constexpr int32_t kValues[] = {0,
                                              1,
                                              -1,
                                              2,
                                              7,
                                              8,
                                              9,
                                              13,
                                              14,
                                              15,
                                              23,
                                              24,
                                              63,
                                              64,
                                              100,
                                              127,
                                              128,
                                              255,
                                              256,
                                              511,
                                              512,
                                              513,
                                              1023,
                                              1024,
                                              4096,
                                              8191,
                                              8192,
                                              16384,
                                              65536,
                                              std::numeric_limits<int32_t>::max(),
                                              std::numeric_limits<int32_t>::min(),
                                              -8192};
        const uint8_t pick = u8();
        if (pick < 200) return kValues[pick % (sizeof kValues / sizeof kValues[0])];
        return i32();
    }
    // Mostly the classes of floats that break arithmetic, sometimes any bit pattern.
    float interestingFloat() {
        static constexpr float kValues[] = {0.0f,
                                            -0.0f,
                                            1.0f,
                                            0.5f,
                                            -1.0f,
                                            2.0f,
                                            1e-45f,
                                            1e-38f,
                                            1e30f,
                                            -1e30f,
                                            std::numeric_limits<float>::max(),
                                            -std::numeric_limits<float>::max(),
                                            std::numeric_limits<float>::infinity(),
                                            -std::numeric_limits<float>::infinity(),
                                            std::numeric_limits<float>::quiet_NaN(),
                                            22050.0f,
                                            44100.0f,
                                            48000.0f,
                                            192000.0f,
                                            1.0f / 3.0f,
                                            0.999999f};
        const uint8_t pick = u8();
        if (pick < 128) return kValues[pick % (sizeof kValues / sizeof kValues[0])];
        if (pick < 192) return static_cast<float>(u8()) / 255.0f;
        const uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    // Up to maxBytes bytes, stopping early at a 0xFF byte (so a text can end mid-input).
    std::string text(std::size_t maxBytes) {
        std::string out;
        while (out.size() < maxBytes && !empty()) {
            const uint8_t c = u8();
            if (c == 0xFF) break;
            out.push_back(static_cast<char>(c));
        }
        return out;
    }
    // Everything that is left.
    std::string rest() {
        std::string out(reinterpret_cast<const char*>(data + pos), remaining());
        pos = size;
        return out;
    }

private:
    const uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
};

// A failed property: print what broke and abort, so libFuzzer keeps the input and the replay
// test fails.
[[noreturn]] void fuzzFailure(const char* what);
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) fuzzFailure(#condition);                                                 \
    } while (0)
