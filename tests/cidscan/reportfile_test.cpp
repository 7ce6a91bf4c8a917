// The report's file is written whole or not at all: the target changes only
// when every byte is in, a failure leaves it as it was, and no temporary
// file stays behind either way.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "cidscan/reportfile.hpp"
#include "support/testsupport.hpp"

using cidscan::ReplacingFile;
using testsupport::TempDir;

namespace {

int entries(const std::string& dir) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

TEST(ReplacingFile, TargetChangesOnlyAtCommitAndNothingIsLeftOver) {
    TempDir dir;
    const std::string target = dir.file("r.html");
    testsupport::writeFile(target, "old");
    chmod(target.c_str(), 0640);
    {
        ReplacingFile f(target);
        ASSERT_TRUE(f.ok()) << f.error();
        EXPECT_EQ(entries(dir.path()), 1);  // nothing new until the text is all there
        EXPECT_EQ(testsupport::readFile(target), "old");
        ASSERT_TRUE(f.commit("new page"));
        EXPECT_FALSE(f.commit("again"));  // once only
    }
    EXPECT_EQ(testsupport::readFile(target), "new page");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640U);  // the replaced file's mode
    EXPECT_EQ(entries(dir.path()), 1);
    {
        ReplacingFile abandoned(target);  // never committed: a run that failed
        ASSERT_TRUE(abandoned.ok());
    }
    EXPECT_EQ(testsupport::readFile(target), "new page");
    EXPECT_EQ(entries(dir.path()), 1);
}

TEST(ReplacingFile, LinkIsFollowedAndKept) {
    TempDir dir;
    testsupport::writeFile(dir.file("real.html"), "old");
    ASSERT_EQ(symlink("real.html", dir.file("link.html").c_str()), 0);
    ReplacingFile f(dir.file("link.html"));
    ASSERT_TRUE(f.commit("new")) << f.error();
    struct stat st {};
    ASSERT_EQ(lstat(dir.file("link.html").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(testsupport::readFile(dir.file("real.html")), "new");
}

TEST(ReplacingFile, TargetsThatCantBeWrittenAreRefusedAtOnce) {
    TempDir dir;
    ReplacingFile folder(dir.path());
    EXPECT_FALSE(folder.ok());
    EXPECT_NE(folder.error().find("not a regular file"), std::string::npos) << folder.error();
    ReplacingFile device("/dev/null");
    EXPECT_FALSE(device.ok());
    ReplacingFile missing(dir.file("no/such/folder/r.html"));
    EXPECT_NE(missing.error().find("/no/such/folder: No such file or directory"), std::string::npos) << missing.error();
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("can't create a file in"), std::string::npos) << missing.error();
    EXPECT_FALSE(missing.commit("x"));
    EXPECT_EQ(entries(dir.path()), 0);
}

TEST(ReplacingFile, FailedRenameLeavesTheTargetAndNoTemporaryFile) {
    TempDir dir;
    const std::string target = dir.file("r.html");
    ReplacingFile f(target);
    ASSERT_TRUE(f.ok());
    // The name becomes a folder with something in it before the page is done.
    ASSERT_TRUE(std::filesystem::create_directory(target));
    testsupport::writeFile(target + "/keep", "x");
    EXPECT_FALSE(f.commit("page"));
    EXPECT_NE(f.error().find("can't replace"), std::string::npos) << f.error();
    EXPECT_EQ(testsupport::readFile(target + "/keep"), "x");
    EXPECT_EQ(entries(dir.path()), 1);
}

}  // namespace
