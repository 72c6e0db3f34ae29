#include "platform/files.h"

#include "support/system.h"
#include "support/temp_folder.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quill::platform;
using quill::testing::kOnWindows;
using quill::testing::readFile;
using quill::testing::TempFolder;
using quill::testing::writeFile;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(ReadOnlyFile, CannotBeDeletedEvenByRootUntilMadeNormal) {
    TempFolder dir;
    writeFile(dir / "a.txt", "keep");
    ASSERT_TRUE(setReadOnly(dir / "a.txt", true));
    EXPECT_TRUE(isReadOnly(dir / "a.txt"));
    EXPECT_FALSE(deleteFile(dir / "a.txt"));
    EXPECT_EQ(lastError(), EACCES);
    EXPECT_EQ(readFile(dir / "a.txt"), "keep");
    ASSERT_TRUE(setNormalAttributes(dir / "a.txt"));
    EXPECT_TRUE(deleteFile(dir / "a.txt"));
    EXPECT_FALSE(fileExists(dir / "a.txt"));
}

TEST(FileExists, IsTrueOnlyForFiles) {
    TempFolder dir;
    writeFile(dir / "f", "");
    EXPECT_TRUE(fileExists(dir / "f"));
    EXPECT_FALSE(fileExists(dir.path()));
    EXPECT_FALSE(fileExists(dir / "none"));
    EXPECT_TRUE(folderExists(dir.path()));
    EXPECT_FALSE(deleteFile(dir.path()));
}

TEST(CopyFile, CopiesContentAndPermissionsButNeverCreatesFolders) {
    TempFolder dir;
    writeFile(dir / "src", std::string("a\0b", 3));
    writeFile(dir / "locked", "L");
    ASSERT_TRUE(setReadOnly(dir / "locked", true));
    ASSERT_TRUE(copyFile(dir / "locked", dir / "locked copy", true));
    EXPECT_TRUE(isReadOnly(dir / "locked copy"));
    EXPECT_FALSE(copyFile(dir / "src", dir / "missing/dst", false));
    EXPECT_FALSE(folderExists(dir / "missing"));
    if (kOnWindows) GTEST_SKIP() << "Windows keeps no permission bits but the read-only one";
    chmod((dir / "src").c_str(), 0640);
    ASSERT_TRUE(copyFile(dir / "src", dir / "dst", true));
    EXPECT_EQ(readFile(dir / "dst"), std::string("a\0b", 3));
    EXPECT_EQ(modeOf(dir / "dst"), 0640u);
}

TEST(CopyFile, CopiesEveryByte) {
    TempFolder dir;
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>(i * 7 % 256);
    writeFile(dir / "src", bytes);
    ASSERT_TRUE(copyFile(dir / "src", dir / "dst", true));
    EXPECT_EQ(readFile(dir / "dst"), bytes);
}

TEST(CopyFile, FailIfExistsLeavesTheTargetAlone) {
    TempFolder dir;
    writeFile(dir / "src", "new");
    writeFile(dir / "dst", "old");
    EXPECT_FALSE(copyFile(dir / "src", dir / "dst", true));
    EXPECT_EQ(readFile(dir / "dst"), "old");
    EXPECT_TRUE(copyFile(dir / "src", dir / "dst", false));
    EXPECT_EQ(readFile(dir / "dst"), "new");
}

TEST(CopyFile, NeverOverwritesAReadOnlyTargetOrItself) {
    TempFolder dir;
    writeFile(dir / "src", "new");
    writeFile(dir / "dst", "old");
    setReadOnly(dir / "dst", true);
    EXPECT_FALSE(copyFile(dir / "src", dir / "dst", false));
    EXPECT_EQ(lastError(), EACCES);
    EXPECT_EQ(readFile(dir / "dst"), "old");
    EXPECT_FALSE(copyFile(dir / "src", dir / "src", false));
    EXPECT_EQ(readFile(dir / "src"), "new");
}

TEST(MoveFile, NeverReplacesItsTargetAndKeepsTheSourceOnFailure) {
    TempFolder dir;
    writeFile(dir / "a", "A");
    writeFile(dir / "b", "B");
    EXPECT_FALSE(moveFile(dir / "a", dir / "b"));
    EXPECT_EQ(lastError(), EEXIST);
    EXPECT_EQ(readFile(dir / "a"), "A");
    EXPECT_EQ(readFile(dir / "b"), "B");
    EXPECT_FALSE(moveFile(dir / "a", dir / "sub/a"));
    EXPECT_FALSE(folderExists(dir / "sub"));
    EXPECT_TRUE(fileExists(dir / "a"));
}

TEST(MoveFile, RenamesAReadOnlyFileKeepingIt) {
    TempFolder dir;
    writeFile(dir / "a", "A");
    setReadOnly(dir / "a", true);
    ASSERT_TRUE(moveFile(dir / "a", dir / "c"));
    EXPECT_FALSE(fileExists(dir / "a"));
    EXPECT_EQ(readFile(dir / "c"), "A");
    EXPECT_TRUE(isReadOnly(dir / "c"));
}

TEST(MoveFile, FailsAcrossFileSystems) {
    TempFolder dir;
    std::uint64_t here = 0, shm = 0;
    if (!folderExists("/dev/shm") || !fileSystemOf("/dev/shm", shm) || !fileSystemOf(dir.path(), here) || here == shm) {
        GTEST_SKIP() << "no second file system to move to";
    }
    writeFile(dir / "a", "A");
    const std::string target = "/dev/shm/quill-move-test-" + std::to_string(getpid());
    EXPECT_FALSE(moveFile(dir / "a", target));
    EXPECT_EQ(lastError(), EXDEV);
    EXPECT_TRUE(fileExists(dir / "a"));
    EXPECT_FALSE(pathExists(target));
}

TEST(CreateFolder, MakesOneLevelAndFailsWhenItExists) {
    TempFolder dir;
    EXPECT_TRUE(createFolder(dir / "x"));
    EXPECT_FALSE(createFolder(dir / "x"));
    EXPECT_EQ(lastError(), EEXIST);
    EXPECT_FALSE(createFolder(dir / "y/z"));
    EXPECT_FALSE(folderExists(dir / "y"));
    EXPECT_TRUE(removeFolder(dir / "x"));
}

TEST(FullPath, IsAbsoluteAndNormal) {
    TempFolder dir;
    const std::string sep(1, kSeparator);
    EXPECT_EQ(fullPath(dir / ("a" + sep + "." + sep + "b" + sep + ".." + sep + "c")), dir / ("a" + sep + "c"));
    const std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(fullPath("x.txt"), here + (here.back() == kSeparator ? "" : sep) + "x.txt");
    if (kOnWindows) return;
    EXPECT_EQ(fullPath("/a/./b/../c"), "/a/c");
}

TEST(SystemErrorText, IsTheSystemsMessage) {
    EXPECT_EQ(systemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(systemErrorText(EACCES), "Permission denied");
}

TEST(ModulePath, NamesThisTestProgram) {
    const std::string path = modulePath();
    const std::string name = path.substr(path.find_last_of(kSeparator) + 1);
    EXPECT_EQ(name, kOnWindows ? "platform_files_test.exe" : "platform_files_test");
    EXPECT_TRUE(std::filesystem::path(path).is_absolute());
    EXPECT_TRUE(fileExists(path));
}
