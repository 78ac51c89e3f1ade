#include "base/AtomicFile.h"
#include "base/SmallFile.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvel;

namespace {

struct Folder {
    std::string path;
    Folder() {
        char pattern[] = "/tmp/quorvel-file-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
    FileURL at(const std::string& name) const { return FileURL{path + "/" + name}; }
    int entries() const {
        int count = 0;
        DIR* dir = ::opendir(path.c_str());
        while (dirent* entry = ::readdir(dir))
            count += std::string(entry->d_name) != "." && std::string(entry->d_name) != "..";
        ::closedir(dir);
        return count;
    }
};

void put(const FileURL& file, const std::string& text) {
    std::ofstream(file.path) << text;
}

} // namespace

TEST(SmallFile, ReadsOnlySmallRegularFilesAndNeverBlocks) {
    Folder folder;
    put(folder.at("small"), "hello");
    auto small = readSmallRegularFile(folder.at("small"), 5);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->contents, "hello");
    EXPECT_NE(small->inode, 0u);

    EXPECT_FALSE(readSmallRegularFile(folder.at("small"), 4)) << "one byte over the limit";
    EXPECT_FALSE(readSmallRegularFile(folder.at("missing"), 100));
    EXPECT_FALSE(readSmallRegularFile(FileURL{folder.path}, 100)) << "a folder";
    ASSERT_EQ(::mkfifo(folder.at("pipe").path.c_str(), 0600), 0);
    EXPECT_FALSE(readSmallRegularFile(folder.at("pipe"), 100)) << "a pipe with no writer";

    ASSERT_EQ(::symlink("small", folder.at("link").path.c_str()), 0);
    EXPECT_TRUE(readSmallRegularFile(folder.at("link"), 100, FinalLink::follow));
    EXPECT_FALSE(readSmallRegularFile(folder.at("link"), 100, FinalLink::refuse));

    // Files of /proc report no size and are read until their end, within the limit all the same.
    auto status = readSmallRegularFile(FileURL{"/proc/self/status"}, 1 << 20);
    ASSERT_TRUE(status);
    EXPECT_NE(status->contents.find("VmRSS:"), std::string::npos);
    EXPECT_GT(status->contents.size(), 256u) << "past the first guess";
    EXPECT_FALSE(readSmallRegularFile(FileURL{"/proc/self/status"}, 300));
    std::string large(100'000, 'x');
    large.back() = 'y';
    ASSERT_TRUE(replaceFileAtomically(folder.at("large"), large));
    EXPECT_EQ(readSmallRegularFile(folder.at("large"), large.size())->contents, large);
}

TEST(AtomicFile, ReplacesWholeAndLeavesNothingBehindOnFailure) {
    Folder folder;
    const FileURL file = folder.at("receipt.json");
    put(file, "old");
    ASSERT_TRUE(replaceFileAtomically(file, "new contents").hasValue());
    EXPECT_EQ(readSmallRegularFile(file, 100)->contents, "new contents");
    EXPECT_EQ(folder.entries(), 1) << "no staged file remains";

    ASSERT_TRUE(replaceFileAtomically(file, "private", {.mode = 0600, .exactMode = true}));
    struct stat info {};
    ASSERT_EQ(::stat(file.path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A folder in the target's place: the rename fails, the staged copy is removed.
    ASSERT_EQ(::mkdir(folder.at("occupied").path.c_str(), 0700), 0);
    put(folder.at("occupied/inside"), "kept");
    auto refused = replaceFileAtomically(folder.at("occupied"), "x");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().step, AtomicFileError::Step::rename);
    EXPECT_NE(refused.error().code, 0);
    EXPECT_EQ(folder.entries(), 2);
    EXPECT_EQ(readSmallRegularFile(folder.at("occupied/inside"), 100)->contents, "kept");

    auto noFolder = replaceFileAtomically(folder.at("absent/file"), "x");
    ASSERT_FALSE(noFolder);
    EXPECT_EQ(noFolder.error().step, AtomicFileError::Step::create);
    EXPECT_EQ(noFolder.error().code, ENOENT);
}
