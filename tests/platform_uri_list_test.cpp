// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the uri-list parser for X11 drops: only local file URIs, %-decoding without NULs, bounded
// counts and lengths, and symbolic links resolved like shortcuts.
#include "platform/uri_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace platform;

TEST(UriList, FileUrisBecomeDecodedLocalPaths) {
    const auto paths = parseUriList(
        "# a comment\r\nfile:///tmp/a%20b.wav\r\nfile://localhost/x/y\r\nhttp://example.org/z\r\n"
        "file://elsewhere.invalid/q\r\nfile:///bad%00nul\r\nfile:///trail%2\r\n\r\nfile:/short\n");
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths[0], "/tmp/a b.wav");
    EXPECT_EQ(paths[1], "/x/y");
    EXPECT_EQ(paths[2], "/trail%2");
    EXPECT_EQ(paths[3], "/short");
    EXPECT_TRUE(parseUriList("").empty());
    // A raw NUL inside a path would hand the drop a different, shorter path.
    EXPECT_TRUE(parseUriList(std::string("file:///tmp/a\0/etc/hosts\n", 25)).empty());
    std::string many;
    for (int i = 0; i < 5000; ++i) many += "file:///f\r\n";
    EXPECT_EQ(parseUriList(many).size(), kMaxDropPaths);
    EXPECT_TRUE(parseUriList("file:///" + std::string(kMaxPathBytes + 10, 'a')).empty());
}

TEST(UriList, SymbolicLinksAreResolvedLikeShortcuts) {
    char dir[] = "/tmp/corvex-uri-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string target = std::string(dir) + "/target.wav";
    const std::string link = std::string(dir) + "/link.wav";
    FILE* f = std::fopen(target.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    const std::string dangling = std::string(dir) + "/dangling";
    ASSERT_EQ(symlink("/nonexistent/corvex", dangling.c_str()), 0);
    const auto paths = parseUriList("file://" + link + "\r\nfile://" + dangling + "\r\n");
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], target);
    EXPECT_EQ(paths[1], dangling);  // unresolvable: passed on as it is
    unlink(link.c_str());
    unlink(dangling.c_str());
    unlink(target.c_str());
    rmdir(dir);
}
