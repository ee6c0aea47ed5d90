// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the value types' edge rules: inclusive vs exclusive edges, normalisation, overlap of
// touching rectangles, intersection collapsing, colour comparison ignoring the fourth byte.
#include "gui/geometry.h"

#include <gtest/gtest.h>

using namespace gui;

TEST(CPoint, IsInsideCountsAllEdgesButPointInsideExcludesRightAndBottom) {
    const CRect r(10, 10, 70, 70);
    EXPECT_TRUE(CPoint(70, 70).isInside(r));
    EXPECT_TRUE(CPoint(10, 10).isInside(r));
    EXPECT_FALSE(CPoint(71, 70).isInside(r));
    EXPECT_FALSE(r.pointInside(CPoint(70, 70)));
    EXPECT_FALSE(r.pointInside(CPoint(69, 70)));
    EXPECT_TRUE(r.pointInside(CPoint(69, 69)));
    EXPECT_TRUE(r.pointInside(CPoint(10, 10)));
}

TEST(CRect, ConstructorKeepsOrderButCallOperatorNormalises) {
    const CRect kept(10, 0, 0, 5);
    EXPECT_EQ(kept.left, 10);
    EXPECT_EQ(kept.right, 0);
    EXPECT_TRUE(kept.isEmpty());
    CRect n;
    n(10, 0, 0, 5);
    EXPECT_EQ(n, CRect(0, 0, 10, 5));
    n(3, 9, 7, 2);
    EXPECT_EQ(n, CRect(3, 2, 7, 9));
}

struct OverlapCase {
    CRect a, b;
    bool overlap;
};
class CRectOverlap : public ::testing::TestWithParam<OverlapCase> {};
TEST_P(CRectOverlap, TouchingCountsAsOverlap) {
    const auto& c = GetParam();
    EXPECT_EQ(c.a.rectOverlap(c.b), c.overlap);
    EXPECT_EQ(c.b.rectOverlap(c.a), c.overlap);
}
INSTANTIATE_TEST_SUITE_P(Cases, CRectOverlap,
                         ::testing::Values(OverlapCase{{0, 0, 10, 10}, {10, 10, 20, 20}, true},
                                           OverlapCase{{0, 0, 10, 10}, {11, 0, 20, 10}, false},
                                           OverlapCase{{0, 0, 10, 10}, {0, 11, 10, 20}, false},
                                           OverlapCase{{0, 0, 10, 10}, {2, 2, 3, 3}, true},
                                           OverlapCase{{5, 5, 6, 6}, {0, 0, 100, 100}, true}));

TEST(CRect, BoundIntersectsAndCollapsesWhenDisjoint) {
    CRect r(0, 0, 100, 100);
    r.bound(CRect(50, -10, 150, 40));
    EXPECT_EQ(r, CRect(50, 0, 100, 40));
    CRect d(0, 0, 10, 10);
    d.bound(CRect(20, 30, 40, 50));
    EXPECT_TRUE(d.isEmpty());
    EXPECT_EQ(d.right, d.left);
    EXPECT_EQ(d.bottom, d.top);
}

TEST(CRect, OffsetWidthHeight) {
    CRect r(1, 2, 11, 22);
    r.offset(5, -2);
    EXPECT_EQ(r, CRect(6, 0, 16, 20));
    EXPECT_EQ(r.width(), 10);
    EXPECT_EQ(r.height(), 20);
    CPoint p(1, 1);
    EXPECT_EQ(p.offset(2, 3), CPoint(3, 4));
}

TEST(CColor, ReservedByteIsIgnoredInComparisonAndPacking) {
    const CColor a{1, 2, 3, 0}, b{1, 2, 3, 99};
    EXPECT_FALSE(a != b);
    EXPECT_TRUE((a != CColor{1, 2, 4, 0}));
    EXPECT_EQ(b.packed(), 0x030201u);
    EXPECT_EQ(CColor::fromPacked(0x8C0000), (CColor{0, 0, 140, 0}));
    EXPECT_EQ(kTransparentCColor, kWhiteCColor);
}

TEST(StandardFonts, TablesMatchTheDesign) {
    const int32_t sizes[] = {12, 18, 14, 12, 11, 10, 9, 13};
    for (int i = 0; i < kNumStandardFonts; ++i) {
        EXPECT_EQ(standardFontSize[i], sizes[i]);
        EXPECT_STREQ(standardFontName[i], i == kFontSymbol ? "Symbol" : "Arial");
    }
}
