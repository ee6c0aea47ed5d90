// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the one set of UTF-8 rules that drawing, titles and edit boxes share: a valid text passes
// untouched, anything cairo would refuse is read as Latin-1 instead of vanishing, a cut never
// splits a character, and one-line texts lose their control characters.
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace utf8 = platform::utf8;

bool valid(const std::string& s) { return utf8::valid(s.data(), s.size()); }

TEST(Utf8Rules, WellFormedSequencesAreValid) {
    EXPECT_TRUE(valid(""));
    EXPECT_TRUE(valid("plain"));
    EXPECT_TRUE(valid("\xC2\xA0"));          // U+00A0, the lowest two-byte form
    EXPECT_TRUE(valid("\xE0\xA0\x80"));      // U+0800
    EXPECT_TRUE(valid("\xED\x9F\xBF"));      // U+D7FF, just below the surrogates
    EXPECT_TRUE(valid("\xF0\x90\x80\x80"));  // U+10000
    EXPECT_TRUE(valid("\xF4\x8F\xBF\xBF"));  // U+10FFFF, the last code point
}

TEST(Utf8Rules, WhatCairoRefusesIsInvalid) {
    EXPECT_FALSE(valid("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(valid("\xC1\xBF"));          // overlong
    EXPECT_FALSE(valid("\xE0\x9F\xBF"));      // overlong three-byte form
    EXPECT_FALSE(valid("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(valid("\xF0\x8F\xBF\xBF"));  // overlong four-byte form
    EXPECT_FALSE(valid("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(valid("\xF5\x80\x80\x80"));
    EXPECT_FALSE(valid("\x80"));       // a lone continuation byte
    EXPECT_FALSE(valid("\xE2\x82"));   // cut short at the end
    EXPECT_FALSE(valid("\xE2\x82x"));  // cut short in the middle
    EXPECT_EQ(utf8::sequenceLength("\xE2\x82\xAC", 3, 0), 3u);
    EXPECT_EQ(utf8::sequenceLength("\xE2\x82\xAC", 2, 0), 0u);  // never reads past n
    EXPECT_EQ(utf8::sequenceLength("a", 1, 1), 0u);
}

TEST(Utf8Rules, Latin1BytesBecomeTheirCharacters) {
    EXPECT_EQ(utf8::fromLatin1("a\xE9\xFF", 3), "a\xC3\xA9\xC3\xBF");
    // Bytes that happen to form UTF-8 are still Latin-1 characters here.
    EXPECT_EQ(utf8::fromLatin1("\xC3\xA9", 2), "\xC3\x83\xC2\xA9");
}

TEST(Utf8Rules, CleaningKeepsTextDropsControlsAndReadsStrayBytesAsLatin1) {
    EXPECT_EQ(utf8::clean("a\tb\nc\x7F\x01"), "abc");
    EXPECT_EQ(utf8::clean("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(utf8::clean("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(utf8::clean("\xC3"), "\xC3\x83");  // a lead byte alone
    EXPECT_EQ(utf8::clean("\x85x"), "x");        // a C1 control byte
    // A surrogate is three stray bytes: two printable in Latin-1, one a C1 control.
    EXPECT_EQ(utf8::clean("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0");
    const std::string once = utf8::clean("\xFF\xC0\xAF\xF4\x90\x80\x80 z");
    EXPECT_TRUE(valid(once));
    EXPECT_EQ(utf8::clean(once), once);
}

TEST(Utf8Rules, CutsFallOnCharacterBoundaries) {
    const std::string s = "a\xE2\x82\xAC"
                          "b";  // a, euro sign, b
    EXPECT_EQ(utf8::boundaryAtOrBefore(s, 0), 0u);
    EXPECT_EQ(utf8::boundaryAtOrBefore(s, 1), 1u);
    EXPECT_EQ(utf8::boundaryAtOrBefore(s, 2), 1u);
    EXPECT_EQ(utf8::boundaryAtOrBefore(s, 3), 1u);
    EXPECT_EQ(utf8::boundaryAtOrBefore(s, 4), 4u);
    EXPECT_EQ(utf8::boundaryAtOrBefore(s, 99), s.size());

    // A long valid text cut at the bound stays valid, so it is not read as Latin-1.
    EXPECT_EQ(utf8::boundedLength(s.c_str(), 3), 1u);
    EXPECT_EQ(utf8::boundedLength(s.c_str(), 5), 5u);  // not cut: the bound is the end
    EXPECT_EQ(utf8::boundedLength(s.c_str(), 64), 5u);
    const std::string euros = [] {
        std::string t;
        for (int i = 0; i < 10; ++i) t += "\xE2\x82\xAC";
        return t;
    }();
    const std::size_t n = utf8::boundedLength(euros.c_str(), 16);
    EXPECT_EQ(n, 15u);
    EXPECT_TRUE(utf8::valid(euros.c_str(), n));
}

}  // namespace
