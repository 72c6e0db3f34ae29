#include "workspace/change/file_ops.h"

#include "platform/error.h"
#include "platform/files.h"
#include "support/error_of.h"
#include "support/small_disk.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace quill;
using quill::testing::errorOf;
using quill::testing::makeFolders;
using quill::testing::readFile;
using quill::testing::setImmutable;
using quill::testing::TempFolder;
using quill::testing::writeFile;

namespace {

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_ino;
}

}  // namespace

TEST(SaveBytes, CreatesOrReplacesWithExactlyTheBytes) {
    TempFolder dir;
    saveBytesToFile(std::string("a\0b", 3), dir / "f.bin");
    EXPECT_EQ(readFile(dir / "f.bin"), std::string("a\0b", 3));
    writeFile(dir / "f.bin", "a much longer old content");
    // Written over in place: another name of the file sees the new bytes too.
    ASSERT_EQ(::link((dir / "f.bin").c_str(), (dir / "g.bin").c_str()), 0);
    saveBytesToFile("new", dir / "f.bin");
    EXPECT_EQ(readFile(dir / "f.bin"), "new");
    EXPECT_EQ(readFile(dir / "g.bin"), "new");
    saveBytesToFile("", dir / "f.bin");
    EXPECT_EQ(readFile(dir / "f.bin"), "");
}

TEST(SaveBytes, FailsOverAReadOnlyFileOrIntoAMissingFolder) {
    TempFolder dir;
    writeFile(dir / "ro.bin", "old");
    platform::setReadOnly(dir / "ro.bin", true);
    EXPECT_EQ(errorOf([&] { saveBytesToFile("new", dir / "ro.bin"); }),
              "Cannot create file \"" + dir.path() + "ro.bin\". Permission denied");
    EXPECT_EQ(readFile(dir / "ro.bin"), "old");
    EXPECT_EQ(errorOf([&] { saveBytesToFile("x", dir / "none/f.bin"); }),
              "Cannot create file \"" + dir.path() + "none/f.bin\". No such file or directory");
    EXPECT_EQ(errorOf([&] { saveBytesToFile("x", dir.path()); }).rfind("Cannot create file \"", 0), 0u);
}

// A cut before the rename leaves the old file and a draft: the next save
// takes that draft away, and nothing that only looks like one.
TEST(ReplaceFileWith, PutsANewFileInPlaceAndClearsDraftsAnInterruptedSaveLeft) {
    TempFolder dir;
    writeFile(dir / "f.ini", "old");
    ::chmod((dir / "f.ini").c_str(), 0640);
    const auto oldFile = inodeOf(dir / "f.ini");
    writeFile(dir / ".f.ini.new0", "torn");
    writeFile(dir / ".f.ini.new12", "torn too");
    writeFile(dir / ".f.ini.newer", "someone's");
    writeFile(dir / ".g.ini.new0", "another file's");
    replaceFileWith("new", dir / "f.ini");
    EXPECT_EQ(readFile(dir / "f.ini"), "new");
    EXPECT_NE(inodeOf(dir / "f.ini"), oldFile);
    struct stat st {};
    ::stat((dir / "f.ini").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(quill::testing::treeDifferences(quill::testing::snapshotTree(dir.path()), {{"f.ini", quill::testing::withMode(0640, "new")},
                                                         {".f.ini.newer", "someone's"},
                                                         {".g.ini.new0", "another file's"}}),
              "");
}

// A save that fails half-way leaves the folder as it was: its draft goes too,
// also when the user's umask made that draft read-only.
TEST(ReplaceFileWith, AFailedSaveLeavesTheFolderAsItWas) {
    for (const mode_t mask : {mode_t{022}, mode_t{0222}}) {
        for (const bool existed : {true, false}) {
            SCOPED_TRACE(std::to_string(mask) + (existed ? " over an old file" : " as a new file"));
            TempFolder dir;
            if (existed) writeFile(dir / "version.ini", "old");
            writeFile(dir / "other.txt", "other");
            const auto before = quill::testing::snapshotTree(dir.path());
            const mode_t oldMask = ::umask(mask);
            std::string error;
            {
                quill::testing::FileSizeLimit limit(1024);
                error = errorOf([&] { replaceFileWith(std::string(4096, 'x'), dir / "version.ini"); });
            }
            ::umask(oldMask);
            EXPECT_EQ(error, "Cannot write file \"" + dir.path() + "version.ini\". File too large");
            EXPECT_EQ(quill::testing::treeDifferences(before, quill::testing::snapshotTree(dir.path())), "");
        }
    }
}

// The room kept free is a hundredth of the disk's size, however little is
// left on it: a large disk that is nearly full keeps as much as an empty one.
TEST(CheckFreeSpace, KeepsAHundredthOfALargeDiskThatIsNearlyFull) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    quill::testing::LargeFileSystem disk(8192 * kMiB);
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    disk.fillLeaving(disk.path() + "another program's", 400 * kMiB);
    struct statvfs st {};
    ASSERT_EQ(::statvfs(disk.path().c_str(), &st), 0);
    const std::uint64_t size = static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
    const std::uint64_t free = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    const std::uint64_t reserve = size / 100;
    // A hundredth of what is free would be 16 MiB, the least kept on any disk.
    ASSERT_GT(reserve, 64 * kMiB);
    ASSERT_LT(free, 500 * kMiB);

    EXPECT_EQ(errorOf([&] { checkFreeSpace({{disk.path(), free - reserve - kMiB, 0}}, "/x/t.zip"); }), "<no error>");
    const std::uint64_t bytes = free - reserve + 10 * kMiB;
    const std::string text = errorOf([&] { checkFreeSpace({{disk.path(), bytes, 0}}, "/x/t.zip"); });
    const std::string lead = "Not enough free disk space to unpack t.zip: it needs ";
    ASSERT_EQ(text.rfind(lead, 0), 0u) << text;
    std::string needed = text.substr(lead.size(), text.find(" MB", lead.size()) - lead.size());
    std::replace(needed.begin(), needed.end(), ',', '.');
    EXPECT_NEAR(std::stod(needed), static_cast<double>(bytes + reserve) / kMiB, 0.2) << text;
}

TEST(OutputFileAccess, IsExclusiveWhileWritten) {
    TempFolder dir;
    OutputFile first(dir / "f.bin");
    first.write("abc", 3);
    EXPECT_EQ(errorOf([&] { OutputFile second(dir / "f.bin"); }).rfind("Cannot create file \"", 0), 0u);
    first.close();
    EXPECT_EQ(readFile(dir / "f.bin"), "abc");
    OutputFile third(dir / "f.bin");
    third.close();
    EXPECT_EQ(readFile(dir / "f.bin"), "");
}

TEST(CreateFolderOrRaise, RaisesWhenTheFolderExistsOrItsParentIsMissing) {
    TempFolder dir;
    createFolderOrRaise(dir / "temp/");
    EXPECT_TRUE(platform::folderExists(dir / "temp"));
    EXPECT_EQ(errorOf([&] { createFolderOrRaise(dir / "temp/"); }), "File exists");
    EXPECT_EQ(errorOf([&] { createFolderOrRaise(dir / "a/b"); }), "No such file or directory");
}

TEST(DeleteFolderTree, RemovesReadOnlyFilesAndFoldersToo) {
    TempFolder dir;
    makeFolders(dir / "db/sub/deeper");
    writeFile(dir / "db/a.txt", "a");
    writeFile(dir / "db/sub/ro.txt", "r");
    writeFile(dir / "db/sub/deeper/b.txt", "b");
    platform::setReadOnly(dir / "db/sub/ro.txt", true);
    chmod((dir / "db/sub").c_str(), 0555);
    deleteFolderTree(dir / "db/");
    EXPECT_FALSE(platform::pathExists(dir / "db"));
}

TEST(DeleteFolderTree, RemovesLinksWithoutFollowingThem) {
    TempFolder dir;
    makeFolders(dir / "outside");
    writeFile(dir / "outside/keep.txt", "k");
    makeFolders(dir / "db");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "db/link").c_str()), 0);
    deleteFolderTree(dir / "db");
    EXPECT_FALSE(platform::pathExists(dir / "db"));
    EXPECT_EQ(readFile(dir / "outside/keep.txt"), "k");
}

TEST(DeleteFolderTree, ChecksThePathInOrder) {
    TempFolder dir;
    writeFile(dir / "file", "f");
    EXPECT_EQ(errorOf([&] { deleteFolderTree(dir / "file"); }), "The specified directory name is invalid");
    EXPECT_EQ(errorOf([&] { deleteFolderTree(dir / std::string(300, 'n')); }), "The specified path is too long");
    EXPECT_EQ(errorOf([&] { deleteFolderTree(dir / "a|b"); }), "Invalid characters in path");
    EXPECT_EQ(errorOf([&] { deleteFolderTree(dir / "a\tb"); }), "Invalid characters in path");
    EXPECT_EQ(errorOf([&] { deleteFolderTree(dir / "missing"); }), "The specified path was not found");
    EXPECT_EQ(readFile(dir / "file"), "f");
}

TEST(DeleteFolderTree, LengthLimitCountsCharactersOfTheFullPath) {
    TempFolder dir;
    const std::size_t room = 259 - dir.path().size();
    makeFolders(dir / std::string(room, 'k'));
    deleteFolderTree(dir / std::string(room, 'k'));
    EXPECT_FALSE(platform::folderExists(dir / std::string(room, 'k')));
    EXPECT_EQ(errorOf([&] { deleteFolderTree(dir / std::string(room + 1, 'k')); }), "The specified path is too long");
}

TEST(MoveFolder, RenamesEveryFileKeepingReadOnlyAndCopyingNothing) {
    TempFolder dir;
    makeFolders(dir / "tmp7/db/sub");
    makeFolders(dir / "tmp7/db/empty");
    writeFile(dir / "tmp7/db/a.txt", "a");
    writeFile(dir / "tmp7/db/sub/ro.txt", "r");
    platform::setReadOnly(dir / "tmp7/db/sub/ro.txt", true);
    const ino_t before = inodeOf(dir / "tmp7/db/a.txt");
    moveFolder(dir / "tmp7/db", dir / "data/db/");
    EXPECT_FALSE(platform::pathExists(dir / "tmp7/db"));
    EXPECT_EQ(readFile(dir / "data/db/a.txt"), "a");
    EXPECT_EQ(inodeOf(dir / "data/db/a.txt"), before);
    EXPECT_EQ(readFile(dir / "data/db/sub/ro.txt"), "r");
    EXPECT_TRUE(platform::isReadOnly(dir / "data/db/sub/ro.txt"));
    EXPECT_TRUE(platform::folderExists(dir / "data/db/empty"));
}

TEST(MoveFolder, RefusesBadPairsAndMovesNothing) {
    TempFolder dir;
    makeFolders(dir / "src/inner");
    writeFile(dir / "src/a.txt", "a");
    makeFolders(dir / "dst");
    EXPECT_EQ(errorOf([&] { moveFolder(dir / "src", dir / "dst"); }), "The specified directory already exists");
    EXPECT_EQ(errorOf([&] { moveFolder(dir / "src", dir / "src/"); }), "The specified directory already exists");
    EXPECT_EQ(errorOf([&] { moveFolder(dir / "missing", dir / "x"); }), "The specified path was not found");
    writeFile(dir / "plain", "p");
    EXPECT_EQ(errorOf([&] { moveFolder(dir / "plain", dir / "x"); }), "The specified path was not found");
    EXPECT_EQ(errorOf([&] { moveFolder(dir / "src", dir / "x<y"); }), "Invalid characters in path");
    EXPECT_EQ(errorOf([&] { moveFolder(dir / "src", dir / "src/inner/deeper"); }),
              "The destination directory is a subfolder of the source directory");
    EXPECT_EQ(readFile(dir / "src/a.txt"), "a");
    EXPECT_FALSE(platform::pathExists(dir / "src/inner/deeper"));
}

TEST(MoveFolder, RefusesAnotherFileSystem) {
    TempFolder dir;
    std::uint64_t here = 0, shm = 0;
    if (!platform::fileSystemOf("/dev/shm", shm) || !platform::fileSystemOf(dir.path(), here) || here == shm) {
        GTEST_SKIP() << "no second file system to move to";
    }
    makeFolders(dir / "src");
    writeFile(dir / "src/a.txt", "a");
    const std::string target = "/dev/shm/quill-move-folder-" + std::to_string(getpid()) + "/db";
    EXPECT_EQ(errorOf([&] { moveFolder(dir / "src", target); }),
              "The source and destination paths must contain the same root drive");
    EXPECT_EQ(readFile(dir / "src/a.txt"), "a");
    EXPECT_FALSE(platform::pathExists(target));
}

TEST(MoveFolder, ReportsAFileThatStayedBehind) {
    TempFolder dir;
    makeFolders(dir / "src/sub");
    writeFile(dir / "src/sub/stuck.txt", "s");
    writeFile(dir / "src/a.txt", "a");
    // An immutable file cannot be renamed, not even by root.
    if (!setImmutable(dir / "src/sub/stuck.txt", true)) GTEST_SKIP() << "no immutable files here";
    const std::string error = errorOf([&] { moveFolder(dir / "src", dir / "dst"); });
    setImmutable(dir / "src/sub/stuck.txt", false);
    EXPECT_EQ(error, "Cannot move file \"" + dir.path() + "src/sub/stuck.txt\". Operation not permitted");
    EXPECT_EQ(readFile(dir / "dst/a.txt"), "a");
    EXPECT_EQ(readFile(dir / "src/sub/stuck.txt"), "s");
}
