// SPDX-License-Identifier: GPL-3.0-or-later
// Portable sin and pow in double-double arithmetic.
//
// A value is carried as an unevaluated sum hi + lo of two doubles with |lo| <= ulp(hi) / 2, which
// holds about 106 bits. The building blocks are the error-free transformations (Knuth's two-sum,
// Dekker's two-product with Veltkamp splitting); they need round-to-nearest doubles without
// excess precision and without fused multiply-adds, which is how every target is compiled. The
// tables are computed by the compiler from the same operations, so no platform's library enters.
#include "core/mathfns.h"

#include <array>
#include <bit>
#include <cstdint>
#include <limits>

namespace mathfns {
namespace {

struct DD {
    double hi;
    double lo;
};

constexpr DD twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// Requires |a| >= |b| (or a == 0).
constexpr DD quickTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

constexpr DD split(double a) {
    constexpr double kSplitter = 134217729.0;  // 2^27 + 1
    const double t = kSplitter * a;
    const double hi = t - (t - a);
    return {hi, a - hi};
}

constexpr DD twoProd(double a, double b) {
    const double p = a * b;
    const DD as = split(a);
    const DD bs = split(b);
    const double e = (((as.hi * bs.hi - p) + as.hi * bs.lo) + as.lo * bs.hi) + as.lo * bs.lo;
    return {p, e};
}

constexpr DD add(DD a, DD b) {
    DD s = twoSum(a.hi, b.hi);
    const DD t = twoSum(a.lo, b.lo);
    s = quickTwoSum(s.hi, s.lo + t.hi);
    return quickTwoSum(s.hi, s.lo + t.lo);
}

constexpr DD neg(DD a) { return {-a.hi, -a.lo}; }

constexpr DD mul(DD a, DD b) {
    const DD p = twoProd(a.hi, b.hi);
    return quickTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

constexpr DD mul(DD a, double b) {
    const DD p = twoProd(a.hi, b);
    return quickTwoSum(p.hi, p.lo + a.lo * b);
}

constexpr DD div(DD a, DD b) {
    const double q1 = a.hi / b.hi;
    DD r = add(a, neg(mul(b, q1)));
    const double q2 = r.hi / b.hi;
    r = add(r, neg(mul(b, q2)));
    const double q3 = r.hi / b.hi;
    return add(quickTwoSum(q1, q2), DD{q3, 0.0});
}

constexpr DD dd(double a) { return {a, 0.0}; }

// ln 2 and pi/2 to about 160 bits. The leading parts of the split constants carry few enough bits
// that their products with the reduction multipliers below are exact.
constexpr double kLn2Hi = 0x1.62e42fefa39efp-1;
constexpr double kLn2Mid = 0x1.abc9e3b39803fp-56;
constexpr double kLn2Lo = 0x1.7b57a079a1934p-111;
constexpr double kLn2Hi42 = 0x1.62e42fefa3800p-1;  // 42 bits: times |k| < 2^11 is exact
constexpr double kLn2Lo42 = 0x1.ef35793c76730p-45;
constexpr double kLn2By128Part1 = 0x1.62e42fef80000p-8;   // 35 bits: times |N| < 2^18 is exact
constexpr double kLn2By128Part2 = 0x1.1cf79abc80000p-43;  // 35 bits
constexpr double kLn2By128Part3 = 0x1.e3b39803f2f6bp-79;
constexpr double k128ByLn2 = 0x1.71547652b82fep+7;
constexpr double kHalfPiPart1 = 0x1.921fb54400000p+0;  // 33 bits: times |k| < 2^20 is exact
constexpr double kHalfPiPart2 = 0x1.0b4611a600000p-34;
constexpr double kHalfPiPart3 = 0x1.3198a2e000000p-69;
constexpr double kHalfPiPart4 = 0x1.b839a252049c1p-104;
constexpr double kTwoByPi = 0x1.45f306dc9c883p-1;

constexpr DD kLn2 = add(DD{kLn2Hi, kLn2Mid}, dd(kLn2Lo));

// 1 / (2n + 1) and 1 / n!, the coefficients of the two series below.
constexpr int kSeriesTerms = 40;
constexpr auto kOddInverses = [] {
    std::array<DD, kSeriesTerms> table{};
    for (int n = 0; n < kSeriesTerms; ++n) table[n] = div(dd(1.0), dd(2.0 * n + 1.0));
    return table;
}();
constexpr auto kInverseFactorials = [] {
    std::array<DD, kSeriesTerms> table{};
    DD factorial = dd(1.0);
    for (int n = 0; n < kSeriesTerms; ++n) {
        if (n > 1) factorial = mul(factorial, static_cast<double>(n));
        table[n] = div(dd(1.0), factorial);
    }
    return table;
}();

// 2 atanh(s) = log((1 + s) / (1 - s)), by the series in s^2 to the power terms - 1.
constexpr DD twiceAtanh(DD s, int terms) {
    const DD z = mul(s, s);
    DD sum = kOddInverses[terms - 1];
    for (int n = terms - 2; n >= 0; --n) sum = add(kOddInverses[n], mul(sum, z));
    return mul(mul(s, sum), 2.0);
}

// exp(r), by the series to the power terms - 1.
constexpr DD expSeries(DD r, int terms) {
    DD sum = kInverseFactorials[terms - 1];
    for (int n = terms - 2; n >= 0; --n) sum = add(kInverseFactorials[n], mul(sum, r));
    return sum;
}

// log(j / 128) for j = 96 ... 192, the centres the mantissa is reduced to. |s| <= 1/7, so the
// whole series leaves less than 2^-110.
constexpr int kLogFirst = 96;
constexpr int kLogLast = 192;
constexpr auto kLogTable = [] {
    std::array<DD, kLogLast - kLogFirst + 1> table{};
    for (int j = kLogFirst; j <= kLogLast; ++j) {
        const double c = j / 128.0;
        table[j - kLogFirst] = twiceAtanh(div(dd(c - 1.0), dd(c + 1.0)), kSeriesTerms);
    }
    return table;
}();

// For the quick logarithm: 1/c for the same centres c = j / 128, rounded to a multiple of 2^-10
// so that products with a 21-bit part of the mantissa are exact, and -log of that reciprocal.
constexpr auto kShortInverses = [] {
    std::array<double, kLogLast - kLogFirst + 1> table{};
    for (int j = kLogFirst; j <= kLogLast; ++j) {
        const double scaled = 131072.0 / j;  // 1024 * 128 / j
        const auto whole = static_cast<int64_t>(scaled + 0.5);
        table[j - kLogFirst] = static_cast<double>(whole) / 1024.0;
    }
    return table;
}();
constexpr auto kLogShortInverses = [] {
    std::array<DD, kLogLast - kLogFirst + 1> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double inv = kShortInverses[i];
        table[i] = neg(twiceAtanh(div(dd(inv - 1.0), dd(inv + 1.0)), kSeriesTerms));
    }
    return table;
}();

// 2^(j / 128) for j = 0 ... 127; the argument stays below ln 2, where the whole series leaves
// less than 2^-110.
constexpr auto kExp2Table = [] {
    std::array<DD, 128> table{};
    for (int j = 0; j < 128; ++j) table[j] = expSeries(mul(kLn2, j / 128.0), kSeriesTerms);
    return table;
}();

double powerOfTwo(int e) {  // 2^e for -1022 <= e <= 1023
    return std::bit_cast<double>(static_cast<uint64_t>(e + 1023) << 52);
}

// x * 2^e, overflowing to infinity and going through the subnormals as plain multiplication does.
double scale(double x, int e) {
    while (e > 1023) {
        x *= powerOfTwo(1023);
        e -= 1023;
    }
    while (e < -1022) {
        x *= powerOfTwo(-1022);
        e += 1022;
    }
    return x * powerOfTwo(e);
}

// x = m 2^k with m in [0.75, 1.5), so that an x near 1 meets the exact centre 1 without
// cancellation; j is the index of the centre j / 128 nearest m.
struct Reduced {
    double m;
    int k;
    int j;
};

Reduced reduce(double x) {  // x positive and finite
    int k = 0;
    if (x < 0x1p-1022) {  // subnormal: make it normal first
        x *= 0x1p54;
        k -= 54;
    }
    const auto bits = std::bit_cast<uint64_t>(x);
    k += static_cast<int>(bits >> 52) - 1023;
    double m = std::bit_cast<double>((bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    if (m >= 1.5) {
        m *= 0.5;
        ++k;
    }
    return {m, k, static_cast<int>(m * 128.0 + 0.5)};
}

// Natural logarithm of a positive finite x to about 2^-104 relative.
DD logPrecise(double x) {
    const Reduced red = reduce(x);
    const double c = red.j / 128.0;
    // log(m / c) = 2 atanh(s), s = (m - c) / (m + c): m - c is exact, |s| <= 2^-8.5 and seven
    // terms of the series leave less than 2^-120.
    const DD logRatio = twiceAtanh(div(dd(red.m - c), twoSum(red.m, c)), 7);
    DD result = add(kLogTable[red.j - kLogFirst], logRatio);
    if (red.k != 0) {
        const double kd = red.k;
        result = add(add(twoProd(kd, kLn2Hi), dd(kd * kLn2Mid)), result);
    }
    return result;
}

// The same to about 2^-71 absolute (and relative near 1), in a tenth of the time: m / c as
// 1 + rhi + rlo with rhi exact and short enough for rhi^2 to be exact, then the series of
// log(1 + r) with its leading terms exact and the rest in doubles.
DD logQuick(double x) {
    const Reduced red = reduce(x);
    const double inv = kShortInverses[red.j - kLogFirst];
    const DD logInv = kLogShortInverses[red.j - kLogFirst];
    const double mHi =
        std::bit_cast<double>(std::bit_cast<uint64_t>(red.m) & 0xFFFFFFFF00000000ull);
    const double rHi = mHi * inv - 1.0;  // exact, a multiple of 2^-31 below 2^-7.3
    const double rLo = (red.m - mHi) * inv;
    const double r = rHi + rLo;
    // r^3/3 - r^4/4 + ... + r^9/9; the next term is below 2^-76.
    const double r2 = r * r;
    const double tail = r2 * r *
                        ((1.0 / 3 + r * (-1.0 / 4)) + r2 * (1.0 / 5 + r * (-1.0 / 6)) +
                         r2 * r2 * ((1.0 / 7 + r * (-1.0 / 8)) + r2 * (1.0 / 9)));
    const double kd = red.k;
    const DD s1 = twoSum(kd * kLn2Hi42, logInv.hi);
    const DD s2 = twoSum(s1.hi, rHi);
    const DD s3 = twoSum(s2.hi, -0.5 * rHi * rHi);
    const double lo = ((s1.lo + s2.lo) + s3.lo) + (kd * kLn2Lo42 + logInv.lo) +
                      (((rLo - rHi * rLo) - 0.5 * rLo * rLo) + tail);
    return quickTwoSum(s3.hi, lo);
}

// t = N ln2/128 + r with |r| <= 2^-8.5; N * part 1 and N * part 2 are exact. Returns r, and j
// and the exponent with N = 128 exponent + j.
DD reduceExp(DD t, int& j, int& exponent) {
    const auto n = static_cast<int64_t>(t.hi * k128ByLn2 + (t.hi >= 0.0 ? 0.5 : -0.5));
    const double nd = static_cast<double>(n);
    j = static_cast<int>(n & 127);
    exponent = static_cast<int>((n - j) / 128);
    const DD r = twoSum(t.hi - nd * kLn2By128Part1, -nd * kLn2By128Part2);
    return quickTwoSum(r.hi, r.lo + (t.lo - nd * kLn2By128Part3));
}

// exp(t) for |t.hi| <= 760 as a double-double to scale by 2^exponent, to about 2^-104.
DD expPrecise(DD t, int& exponent) {
    int j = 0;
    const DD r = reduceExp(t, j, exponent);
    return mul(kExp2Table[j], expSeries(r, 10));  // ten terms leave less than 2^-107
}

// The same to about 2^-69: T (1 + r + p) with T r exact and the series' rest p in doubles.
DD expQuick(DD t, int& exponent) {
    int j = 0;
    const DD r = reduceExp(t, j, exponent);
    const double x = r.hi;
    const double p =
        x * x * (1.0 / 2 + x * (1.0 / 6 + x * (1.0 / 24 + x * (1.0 / 120 + x * (1.0 / 720)))));
    const DD table = kExp2Table[j];
    const DD product = twoProd(table.hi, x);
    const DD s = twoSum(table.hi, product.hi);
    const double lo = s.lo + product.lo + table.hi * (r.lo + p) + (table.lo + table.lo * x);
    return quickTwoSum(s.hi, lo);
}

// True when every value within a relative distance `bound` of hi + lo rounds to hi.
bool roundsSafely(DD v, double bound) {
    const double margin = bound * std::fabs(v.hi);
    return v.hi + (v.lo + margin) == v.hi && v.hi + (v.lo - margin) == v.hi;
}

bool isInteger(double y) {
    if (!(std::fabs(y) < 0x1p52)) return true;  // every double this large is an integer
    return static_cast<double>(static_cast<int64_t>(y)) == y;
}

bool isOddInteger(double y) {
    if (!(std::fabs(y) < 0x1p53)) return false;
    const auto i = static_cast<int64_t>(y);
    return static_cast<double>(i) == y && (i & 1) != 0;
}

}  // namespace

double sin(double x) {
    if (!(std::fabs(x) <= std::numeric_limits<double>::max())) return x - x;  // NaN for NaN, inf
    if (std::fabs(x) < 0x1p-26) return x;  // x^3 / 6 is below half an ulp of x
    if (std::fabs(x) >= 0x1p19) x = std::fmod(x, 4.0 * kHalfPiPart1);

    const double kd =
        static_cast<double>(static_cast<int64_t>(x * kTwoByPi + (x >= 0.0 ? 0.5 : -0.5)));
    // r = x - k pi/2: the first difference is exact (x is within pi/4 of k pi/2 ~ k * part 1).
    DD r = twoSum(x - kd * kHalfPiPart1, -kd * kHalfPiPart2);
    r = add(r, dd(-kd * kHalfPiPart3));
    r = add(r, neg(twoProd(kd, kHalfPiPart4)));

    // |r| <= pi/4: fourteen terms of either series leave less than 2^-110 relative.
    const DD z = mul(r, r);
    constexpr int kTerms = 14;
    const int quadrant = static_cast<int>(static_cast<int64_t>(kd) & 3);
    DD sum{};
    if (quadrant % 2 == 0) {  // sin r = r (1 - z/3! + z^2/5! - ...)
        sum = dd(1.0);
        for (int n = kTerms; n >= 1; --n)
            sum = add(dd(1.0), neg(div(mul(sum, z), dd((2.0 * n) * (2.0 * n + 1.0)))));
        sum = mul(sum, r);
    } else {  // cos r = 1 - z/2! + z^2/4! - ...
        sum = dd(1.0);
        for (int n = kTerms; n >= 1; --n)
            sum = add(dd(1.0), neg(div(mul(sum, z), dd((2.0 * n - 1.0) * (2.0 * n)))));
    }
    if (quadrant >= 2) sum = neg(sum);
    return sum.hi + sum.lo;
}

double pow(double x, double y) {
    // The special cases, as the C library defines them.
    if (y == 0.0 || x == 1.0) return 1.0;
    if (std::isnan(x) || std::isnan(y)) return x + y;
    const double ax = std::fabs(x);
    if (std::isinf(y)) {
        if (ax == 1.0) return 1.0;
        return (ax < 1.0) == (y < 0.0) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    const bool odd = isOddInteger(y);
    if (x == 0.0 || std::isinf(x)) {
        // 0^y and inf^y are 0 or inf; the sign survives only for an odd integer y.
        const bool large = (x == 0.0) == (y < 0.0);
        const double magnitude = large ? std::numeric_limits<double>::infinity() : 0.0;
        return odd && std::signbit(x) ? -magnitude : magnitude;
    }
    if (x < 0.0 && !isInteger(y)) return std::numeric_limits<double>::quiet_NaN();

    // First quickly; when the quick value lies too close to a rounding boundary to decide the
    // rounding (a few times in a hundred), again in full precision.
    double result = 0.0;
    for (const bool precise : {false, true}) {
        const DD logX = precise ? logPrecise(ax) : logQuick(ax);
        // |log x| >= 2^-53 for x != 1, so beyond 2^64 the product is far outside the finite range.
        if (std::fabs(y) > 0x1p64 || std::fabs(y * logX.hi) > 760.0) {
            result = (y > 0.0) == (logX.hi > 0.0) ? std::numeric_limits<double>::infinity() : 0.0;
            break;
        }
        const DD product = twoProd(y, logX.hi);
        const DD t = precise ? add(product, dd(y * logX.lo))
                             : quickTwoSum(product.hi, product.lo + y * logX.lo);
        int exponent = 0;
        const DD value = precise ? expPrecise(t, exponent) : expQuick(t, exponent);
        // The quick path's error with a margin of about 8: exp's own, and the logarithm's
        // absolute error multiplied by |y|.
        const double bound = 0x1p-66 + 0x1p-68 * std::fabs(y);
        if (precise || roundsSafely(value, bound)) {
            result = scale(value.hi, exponent);
            break;
        }
    }
    return odd && x < 0.0 ? -result : result;
}

}  // namespace mathfns
