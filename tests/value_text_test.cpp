// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the value-to-text helpers: digits are truncated not rounded, every text fits in
// eight characters, and no value ever shows a wrong number.
#include "host/audioeffectx.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

class Bare : public AudioEffectX {
public:
    Bare() : AudioEffectX(nullptr, 1, 1) {}
    void process(float**, float**, int32_t) override {}
};

struct Case {
    float value;
    const char* text;
};

class Float2String : public ::testing::TestWithParam<Case> {};

TEST_P(Float2String, Formats) {
    Bare e;
    char text[32];
    e.float2string(GetParam().value, text);
    EXPECT_STREQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Float2String,
    ::testing::Values(Case{0.0f, "0.000000"}, Case{0.25f, "0.250000"}, Case{0.5f, "0.500000"},
                      Case{0.7f, "0.699999"}, Case{-1.5f, "-1.50000"}, Case{123.456f, "123.4560"},
                      Case{1234567.0f, "1234567."}, Case{100000000.0f, "Huge!"},
                      Case{-10000000.0f, "Huge!"}, Case{INFINITY, "Huge!"},
                      Case{-INFINITY, "Huge!"}, Case{NAN, "NaN"}, Case{-0.5f, "-0.50000"},
                      Case{9999999.0f, "9999999."},
                      // Integer parts too wide for a point are shown whole.
                      Case{12345678.0f, "12345678"}, Case{99999992.0f, "99999992"},
                      Case{-1234567.0f, "-1234567"}, Case{-9999999.0f, "-9999999"},
                      Case{-123456.0f, "-123456."}));

// Whatever the value, the text is either "Huge!"/"NaN" or reads back as the value's integer
// part with truncated fraction digits.
TEST(Float2StringSweep, NeverShowsAWrongNumber) {
    Bare e;
    char text[32];
    for (double exponent = -3.0; exponent < 8.05; exponent += 0.005) {
        for (double sign : {1.0, -1.0}) {
            const float f = static_cast<float>(sign * std::pow(10.0, exponent));
            e.float2string(f, text);
            const std::string s = text;
            ASSERT_LE(s.size(), 8u) << f;
            if (s == "Huge!") {
                EXPECT_TRUE(double{f} > 99999999.0 || double{f} < -9999999.0) << f;
                continue;
            }
            // Digits are truncated, so the text is within one unit of the last digit shown.
            EXPECT_LE(std::fabs(std::strtod(text, nullptr) - static_cast<double>(f)), 1.0)
                << f << " -> " << s;
        }
    }
}

TEST(Long2String, Formats) {
    Bare e;
    char text[32];
    e.long2string(42, text);
    EXPECT_STREQ(text, "     42");
    e.long2string(100000000, text);
    EXPECT_STREQ(text, "Huge!");
    e.long2string(99999999, text);
    EXPECT_STREQ(text, "99999999");
    e.long2string(-123456789, text);
    EXPECT_STREQ(text, "-1234567");
    e.long2string(INT32_MIN, text);
    EXPECT_STREQ(text, "-2147483");
}

TEST(UnitHelpers, Decibels) {
    Bare e;
    char text[32];
    e.dB2string(0.0f, text);
    EXPECT_STREQ(text, "-oo");
    e.dB2string(-1.0f, text);
    EXPECT_STREQ(text, "-oo");
    e.dB2string(0.5f, text);
    EXPECT_STREQ(text, "-6.02059");
    e.dB2string(1.0f, text);
    EXPECT_STREQ(text, "0.000000");
}

TEST(UnitHelpers, HertzAndMilliseconds) {
    Bare e;
    char text[32];
    e.Hz2string(0.0f, text);
    EXPECT_STREQ(text, "0.000000");
    e.Hz2string(441.0f, text);
    EXPECT_STREQ(text, "100.0000");
    e.ms2string(441.0f, text);
    EXPECT_STREQ(text, "10.00000");
}

// A subclass's float2string reaches all three unit helpers.
TEST(UnitHelpers, GoThroughTheVirtualFormatter) {
    struct Custom : Bare {
        int calls = 0;
        void float2string(float, char* text) override {
            ++calls;
            text[0] = 'x';
            text[1] = '\0';
        }
    } e;
    char text[32];
    e.dB2string(0.5f, text);
    e.Hz2string(10.0f, text);
    e.ms2string(10.0f, text);
    EXPECT_EQ(e.calls, 3);
}

}  // namespace
