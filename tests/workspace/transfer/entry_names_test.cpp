// The one rule for entry names: what ordinary tools write ("./b.txt",
// "sub//b.txt") comes to its plain form, and what comes to no file, or leaves
// the folder, is refused before anything is written.
#include "workspace/transfer/zip_names.h"

#include "support/error_of.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"
#include "vendorkit/zip_writer.h"
#include "workspace/transfer/zip_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quill {
namespace {

using testing::errorOf;
using testing::TempFolder;

TEST(EntryNames, ComeToTheirPlainForm) {
    const std::pair<const char*, const char*> cases[] = {
        {"./b.txt", "b.txt"},         {"sub//b.txt", "sub/b.txt"}, {"sub/./b.txt", "sub/b.txt"},
        {".//sub/./", "sub/"},        {"sub//", "sub/"},           {"./", ""},
        {"a\\.\\b.txt", "a/b.txt"},   {"a\\\\b\\", "a/b/"},        {"a..b/..c/.d", "a..b/..c/.d"},
    };
    for (const auto& [name, plain] : cases) EXPECT_EQ(entryPath(name), plain) << name;
}

TEST(EntryNames, ThoseThatComeToNoFileOrLeaveTheFolderAreRefused) {
    for (const std::string name : {"", ".", "./.", "b.txt/.", "sub/./.", "..", "a/../b", "a\\..", "/x", "\\x", "C:x"})
        EXPECT_EQ(errorOf([&] { entryPath(name); }), "Unsafe entry name: " + name) << name;
}

TEST(EntryNames, TheReaderUnpacksAndRefusesByTheRule) {
    TempFolder temp;
    {
        vendorkit::ZipWriter zip(temp / "bsdtar.zip");
        zip.addFolder("./");
        zip.addFile("./a.txt", "a");
        zip.addFolder("./sub/");
        zip.addFile("sub//b.txt", "b");
        zip.finish();
    }
    unpackArchive(temp / "bsdtar.zip", temp / "out/");
    EXPECT_EQ(testing::treeDifferences({{"a.txt", "a"}, {"sub/", ""}, {"sub/b.txt", "b"}},
                                       testing::snapshotTree(temp / "out/")),
              "");
    {
        vendorkit::ZipWriter zip(temp / "unclear.zip");
        zip.addFile("a.txt", "a");
        zip.addFile("sub/.", "is it a folder or a file?");
        zip.finish();
    }
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "unclear.zip", temp / "refused/"); }), "Unsafe entry name: sub/.");
    EXPECT_FALSE(std::filesystem::exists(temp / "refused"));
}

}  // namespace
}  // namespace quill
