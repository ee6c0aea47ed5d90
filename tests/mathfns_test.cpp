// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's sin and pow: correctly rounded where C libraries are not, exact where the result
// is representable, the C library's answers in the special cases, and the same bits on every
// platform (this program also runs under Wine, built for both Windows widths).
#include "core/mathfns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

uint64_t bitsOf(double d) {
    uint64_t u = 0;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

// Compares bit patterns, so that -0.0 differs from 0.0 and NaN equals NaN.
#define EXPECT_SAME_DOUBLE(expected, actual)                                                       \
    EXPECT_EQ(bitsOf(expected), bitsOf(actual)) << (expected) << " vs " << (actual)

struct Case {
    const char* what;
    double x, y;  // y unused for sin
    double expected;
};

// Correctly rounded results (from 300-bit arithmetic) at arguments the engine uses where glibc's
// pow is one unit in the last place off, where the Windows runtime's pow is up to nine off, and
// where its sin is 306 off.
const Case kPowCases[] = {
    {"shaped table, glibc", 0x1.2241880000000p-2, 0x1.6147ae0000000p+0, 0x1.678bafd2b5531p-3},
    {"shaped table, glibc", 0x1.2273e20000000p-1, 0x1.29ccb60000000p+4, 0x1.b6f6a7a2ce894p-16},
    {"shaped table, glibc", 0x1.d9f2680000000p-1, 0x1.29ccb60000000p+4, 0x1.e67a1d5e776b1p-3},
    {"shaped table, glibc", 0x1.ae3bdc0000000p-1, 0x1.0333340000000p+4, 0x1.e8e9590ad4e6cp-5},
    {"shaped table, glibc", 0x1.7a0f820000000p-1, 0x1.3333340000000p+2, 0x1.ddabc15f33434p-3},
    {"shaped table, glibc", 0x1.fff4e60000000p-1, 0x1.1333340000000p+3, 0x1.ffa08ea9f736fp-1},
    {"shaped table, glibc", 0x1.d8e0500000000p-4, 0x1.8cccce0000000p+3, 0x1.4cabb566dcfa0p-39},
    {"shaped table, Windows", 0x1.1695680000000p-4, 0x1.980aac0000000p+3, 0x1.76cfce51a88f4p-50},
    {"partial step, glibc", 27.0, 0x1.147ae20000000p-1, 0x1.7b6aac8f9212ap+2},
    {"note 126, Windows", 0x1.0f38fa0000000p+0, 105.0, 0x1.ae8a8293ef988p+8},
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.what << " pow(" << c.x << ", " << c.y << ")";
}

class PowCorrectlyRounded : public ::testing::TestWithParam<Case> {};

TEST_P(PowCorrectlyRounded, WhereLibrariesAreNot) {
    const Case& c = GetParam();
    EXPECT_SAME_DOUBLE(c.expected, mathfns::pow(c.x, c.y)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(HardCases, PowCorrectlyRounded, ::testing::ValuesIn(kPowCases));

TEST(SinCorrectlyRounded, NearPiWhereTheWindowsRuntimeIsFarOff) {
    // The argument of sine table entry 768's neighbourhood: float pi, whose sine is tiny.
    EXPECT_SAME_DOUBLE(-0x1.777a5cf72cec6p-24, mathfns::sin(0x1.921fb60000000p+1));
}

TEST(SinCorrectlyRounded, TableCornersAreExact) {
    // The engine's table arguments at entries 0, 256 and 512: -pi/2, 0 and pi/2 in floats.
    const float twoPi = 6.2831855f, halfPi = 1.5707964f;
    auto argument = [&](int i) {
        const float x = static_cast<float>(i / 1024.0);
        return static_cast<double>(x) * twoPi - static_cast<double>(halfPi);
    };
    EXPECT_EQ(-1.0f, static_cast<float>(mathfns::sin(argument(0))));
    EXPECT_SAME_DOUBLE(0.0, mathfns::sin(argument(256)));
    EXPECT_EQ(1.0f, static_cast<float>(mathfns::sin(argument(512))));
}

TEST(SinCorrectlyRounded, IsOddAndKeepsTinyArguments) {
    for (double x : {0.1, 0.7853981633974483, 1.0, 2.5, 3.0, 4.71238898038469, 6.0, 1000.25}) {
        EXPECT_SAME_DOUBLE(-mathfns::sin(x), mathfns::sin(-x)) << x;
        EXPECT_LE(std::fabs(mathfns::sin(x)), 1.0);
    }
    EXPECT_SAME_DOUBLE(1e-10, mathfns::sin(1e-10));
    EXPECT_SAME_DOUBLE(-0.0, mathfns::sin(-0.0));
    EXPECT_SAME_DOUBLE(5e-324, mathfns::sin(5e-324));
}

TEST(SinSpecialCases, NonFiniteArgumentsGiveNaN) {
    EXPECT_TRUE(std::isnan(mathfns::sin(std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(mathfns::sin(-std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(mathfns::sin(std::numeric_limits<double>::quiet_NaN())));
    // Far arguments are reduced less exactly, but still land on a sine.
    EXPECT_LE(std::fabs(mathfns::sin(1e300)), 1.0);
}

TEST(PowExact, RepresentableResultsComeOutExactly) {
    for (int h = 1; h <= 30; ++h) {
        const double x = h;
        EXPECT_SAME_DOUBLE(x, mathfns::pow(x, 1.0));
        EXPECT_SAME_DOUBLE(x * x, mathfns::pow(x, 2.0));
        EXPECT_SAME_DOUBLE(x * x * x, mathfns::pow(x, 3.0));
        EXPECT_SAME_DOUBLE(std::sqrt(x), mathfns::pow(x, 0.5));
        EXPECT_SAME_DOUBLE(1.0 / (x * x), mathfns::pow(x, -2.0)) << h;  // one rounding each
    }
    for (int n = -1074; n <= 1023; n += 7)
        EXPECT_SAME_DOUBLE(std::ldexp(1.0, n), mathfns::pow(2.0, n)) << n;
    double power = 1.0;
    for (int n = 0; n <= 22; ++n, power *= 10.0)
        EXPECT_SAME_DOUBLE(power, mathfns::pow(10.0, n)) << n;
}

struct Special {
    double x, y, expected;
};

void PrintTo(const Special& c, std::ostream* os) { *os << "pow(" << c.x << ", " << c.y << ")"; }

class PowSpecialCases : public ::testing::TestWithParam<Special> {};

TEST_P(PowSpecialCases, AsTheCLibraryDefinesThem) {
    const Special& c = GetParam();
    EXPECT_SAME_DOUBLE(c.expected, mathfns::pow(c.x, c.y)) << "pow(" << c.x << ", " << c.y << ")";
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    AnnexF, PowSpecialCases,
    ::testing::Values(Special{kNaN, 0.0, 1.0}, Special{1.0, kNaN, 1.0}, Special{-1.0, kInf, 1.0},
                      Special{-1.0, -kInf, 1.0}, Special{0.0, -3.0, kInf},
                      Special{-0.0, -3.0, -kInf}, Special{-0.0, -2.0, kInf}, Special{0.0, 3.0, 0.0},
                      Special{-0.0, 3.0, -0.0}, Special{-0.0, 2.5, 0.0}, Special{0.5, -kInf, kInf},
                      Special{2.0, -kInf, 0.0}, Special{0.5, kInf, 0.0}, Special{2.0, kInf, kInf},
                      Special{-kInf, -3.0, -0.0}, Special{-kInf, -2.0, 0.0},
                      Special{-kInf, 3.0, -kInf}, Special{-kInf, 2.0, kInf},
                      Special{kInf, -1.0, 0.0}, Special{kInf, 0.5, kInf}, Special{-2.0, 3.0, -8.0},
                      Special{-2.0, -2.0, 0.25}, Special{2.0, 1024.0, kInf},
                      Special{2.0, -1080.0, 0.0}, Special{1.0000001, 1e300, kInf},
                      Special{0.5, 1e30, 0.0}));

TEST(PowSpecialCases, NaNs) {
    EXPECT_TRUE(std::isnan(mathfns::pow(-2.0, 0.5)));
    EXPECT_TRUE(std::isnan(mathfns::pow(kNaN, 1.0)));
    EXPECT_TRUE(std::isnan(mathfns::pow(2.0, kNaN)));
}

TEST(PowShapedTable, RisesWithTheBaseAndStaysInRange) {
    // The engine raises the unipolar table (0 ... 1) to q = 1 ... 20; a correctly rounded pow keeps
    // the shaped wave monotonic between its trough and its peak.
    for (double q : {1.0, 1.0000019, 2.5, 7.3, 19.999998, 20.0}) {
        double previous = 0.0;
        for (int i = 0; i <= 512; ++i) {
            const double u = 0.5 - 0.5 * std::cos(i * (3.141592653589793 / 512.0));
            const double p = mathfns::pow(u, q);
            ASSERT_GE(p, previous) << "q " << q << " entry " << i;
            ASSERT_LE(p, 1.0);
            previous = p;
        }
    }
}

TEST(Fmod, IsExact) {
    EXPECT_SAME_DOUBLE(0.0, mathfns::fmod(1024.0 * 29, 1024.0));
    EXPECT_SAME_DOUBLE(1.5, mathfns::fmod(1025.5, 1024.0));
    const double spread = 3 * 0.345 * 1024.0;
    EXPECT_SAME_DOUBLE(spread - 1024.0, mathfns::fmod(spread, 1024.0));
}

}  // namespace
