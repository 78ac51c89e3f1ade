#include "base/FileURL.h"

#include <gtest/gtest.h>

using quorvel::FileURL;
using quorvel::standardizePath;

TEST(FileURL, StandardisationRemovesDotsEmptyComponentsAndTrailingSlash) {
    EXPECT_EQ(standardizePath("/a/./b//c/"), "/a/b/c");
    EXPECT_EQ(standardizePath("/a/b/../c"), "/a/c");
    EXPECT_EQ(standardizePath("/../a"), "/a");
    EXPECT_EQ(standardizePath("/"), "/");
    EXPECT_EQ(standardizePath("//"), "/");
    EXPECT_EQ(standardizePath("a/../../b"), "../b");
    EXPECT_EQ(standardizePath("/a/b/.."), "/a");
}

TEST(FileURL, ComponentsAndExtension) {
    FileURL url{"/Applications/Quorvel.app/Contents/MacOS/Quorvel"};
    EXPECT_EQ(url.lastPathComponent(), "Quorvel");
    EXPECT_EQ(url.deletingLastPathComponent().path, "/Applications/Quorvel.app/Contents/MacOS");
    EXPECT_EQ(FileURL{"/a"}.deletingLastPathComponent().path, "/");
    EXPECT_EQ(FileURL{"/"}.lastPathComponent(), "/");
    EXPECT_EQ(FileURL{"/x/log.jsonl"}.pathExtension(), "jsonl");
    EXPECT_EQ(FileURL{"/x/.profile"}.pathExtension(), "");
    EXPECT_EQ(FileURL{"/x/a.tar.gz"}.pathExtension(), "gz");
    EXPECT_EQ(FileURL{"/x"}.appendingPathComponent("y").path, "/x/y");
    EXPECT_EQ(FileURL{"/"}.appendingPathComponent("y").path, "/y");
}
