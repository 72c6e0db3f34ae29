#include "workspace/transfer/zip_reader.h"

#include "platform/error.h"
#include "platform/files.h"
#include "support/error_of.h"
#include "support/temp_folder.h"
#include "vendorkit/zip_writer.h"
#include "workspace/transfer/zip_names.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iconv.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {
namespace {

using testing::readFile;
using testing::errorOf;
using testing::TempFolder;
using testing::writeFile;
using vendorkit::ZipEntryOptions;
using vendorkit::ZipWriter;

// Bytes that deflate to a few chunks, not to nothing.
std::string varied(std::size_t size, unsigned seed = 1) {
    std::string s(size, '\0');
    unsigned x = seed;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>("abcdefgh ijklmnop\n"[(x >> 16) % 18] ^ ((x >> 28) & 1 ? 0x20 : 0));
    }
    return s;
}

ZipEntryOptions stored() {
    ZipEntryOptions o;
    o.deflate = false;
    return o;
}

std::vector<std::string> filesUnder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        names.push_back(e.path().string().substr(folder.size()) + (e.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ZipUnpack, WritesFoldersAndFilesAndReplacesOnlyWhatItNames) {
    TempFolder temp;
    const std::string archive = temp / "t.zip";
    {
        ZipWriter zip(archive);
        zip.addFolder("db/");
        zip.addFile("db/a.txt", "alpha");
        zip.addFile("db.fdb", varied(700000), stored());
    }
    const std::string out = temp / "out/";
    testing::makeFolders(out);
    writeFile(out + "db.fdb", "old database");
    writeFile(out + "keep.txt", "mine");
    unpackArchive(archive, out);
    EXPECT_EQ(readFile(out + "db/a.txt"), "alpha");
    EXPECT_TRUE(readFile(out + "db.fdb") == varied(700000));
    EXPECT_EQ(readFile(out + "keep.txt"), "mine");
    EXPECT_EQ(filesUnder(out), (std::vector<std::string>{"db.fdb", "db/", "db/a.txt", "keep.txt"}));
}

TEST(ZipUnpack, CreatesMissingParentFoldersAndEmptyFiles) {
    TempFolder temp;
    const std::string archive = temp / "t.zip";
    {
        ZipWriter zip(archive);
        zip.addFile("x/y/z.txt", "deep");
        zip.addFile("x/empty.txt", "");
        zip.addFile("x/empty-stored.txt", "", stored());
        zip.addFile("a\\b.txt", "backslash");
    }
    unpackArchive(archive, temp / "out/");
    EXPECT_EQ(readFile(temp / "out/x/y/z.txt"), "deep");
    EXPECT_EQ(readFile(temp / "out/x/empty.txt"), "");
    EXPECT_EQ(readFile(temp / "out/x/empty-stored.txt"), "");
    EXPECT_EQ(readFile(temp / "out/a/b.txt"), "backslash");
}

TEST(ZipUnpack, DataDescriptorsAndEntriesOverManyChunks) {
    TempFolder temp;
    const std::string archive = temp / "t.zip";
    ZipEntryOptions described;
    described.dataDescriptor = true;
    const std::string big = varied(3 << 20, 7);
    {
        ZipWriter zip(archive);
        zip.addFile("described.txt", varied(100000, 3), described);
        zip.addFile("big.bin", big);
        zip.addFile("after.txt", "after");
    }
    unpackArchive(archive, temp.path());
    EXPECT_TRUE(readFile(temp / "described.txt") == varied(100000, 3));
    EXPECT_TRUE(readFile(temp / "big.bin") == big);
    EXPECT_EQ(readFile(temp / "after.txt"), "after");
}

TEST(ZipUnpack, AnUnknownMethodStopsAtThatEntry) {
    TempFolder temp;
    const std::string archive = temp / "t.zip";
    ZipEntryOptions bzip2 = stored();
    bzip2.recordedMethod = 12;
    {
        ZipWriter zip(archive);
        zip.addFile("first.txt", "1");
        zip.addFile("second.txt", "2", bzip2);
        zip.addFile("third.txt", "3");
    }
    EXPECT_EQ(errorOf([&] { unpackArchive(archive, temp / "out/"); }), "Item not found");
    EXPECT_EQ(filesUnder(temp / "out/"), (std::vector<std::string>{"first.txt"}));
}

TEST(ZipUnpack, EntryChecksGoInTheirOrder) {
    // Each entry breaks two rules at once; the one checked first is reported.
    ZipEntryOptions bzip2 = stored();
    bzip2.recordedMethod = 12;
    ZipEntryOptions bzip2BadLocal = bzip2;
    bzip2BadLocal.badLocalSignature = true;
    const std::string tooDeep = std::string(200, 'f') + "/" + std::string(200, 'g') + "/x.txt";
    struct Case {
        std::string name;
        ZipEntryOptions options;
        std::string error;
    };
    const Case cases[] = {
        {"sub/a|b.txt", bzip2BadLocal, "Invalid Zip Local Header signature"},
        {"sub/a|b.txt", bzip2, "Item not found"},
        {tooDeep, bzip2, "Item not found"},
        {"sub/a|" + tooDeep, stored(), "Invalid characters in path"},
    };
    TempFolder temp;
    testing::makeFolders(temp / "out/");
    for (const Case& c : cases) {
        {
            ZipWriter zip(temp / "t.zip");
            zip.addFile(c.name, "x", c.options);
        }
        EXPECT_EQ(errorOf([&] { unpackArchive(temp / "t.zip", temp / "out/"); }), c.error) << c.name;
        EXPECT_EQ(filesUnder(temp / "out/"), std::vector<std::string>{}) << c.name;
    }
}

TEST(ZipUnpack, DamagedDataIsReportedNeverInstalledSilently) {
    TempFolder temp;
    struct Case {
        ZipEntryOptions options;
        std::string error;
    } cases[4];
    cases[0].options.damageDeflate = true;
    cases[0].error = "data error";
    cases[1].options.recordedCrc = 0x12345678;
    cases[1].error = "CRC error in dir/bad.txt";
    cases[2].options = stored();
    cases[2].options.recordedCrc = 0;
    cases[2].error = "CRC error in dir/bad.txt";
    cases[3].options.recordedUncompressedSize = 200000;  // more than the stream holds
    cases[3].error = "Stream read error";
    int n = 0;
    for (const auto& c : cases) {
        const std::string archive = temp / ("t" + std::to_string(n++) + ".zip");
        {
            ZipWriter zip(archive);
            zip.addFile("dir/bad.txt", varied(100000), c.options);
            zip.addFile("later.txt", "later");
        }
        const std::string out = temp / ("out" + std::to_string(n) + "/");
        EXPECT_EQ(errorOf([&] { unpackArchive(archive, out); }), c.error) << "case " << n;
        EXPECT_FALSE(platform::fileExists(out + "later.txt"));
    }
}

TEST(ZipOpen, FilesThatAreNoArchives) {
    TempFolder temp;
    writeFile(temp / "empty.zip", "");
    writeFile(temp / "text.zip", "This is a text file, not an archive.\r\n");
    writeFile(temp / "tiny.zip", "PK");
    ZipReader reader;
    EXPECT_EQ(errorOf([&] { reader.open(temp / "empty.zip"); }), "Stream read error");
    EXPECT_EQ(errorOf([&] { reader.open(temp / "text.zip"); }), "Error reading zip file");
    EXPECT_EQ(errorOf([&] { reader.open(temp / "tiny.zip"); }), "Error reading zip file");
    EXPECT_EQ(errorOf([&] { reader.open(temp / "missing.zip"); }),
              "Cannot open file \"" + temp.path() + "missing.zip\". " + platform::systemErrorText(ENOENT));
    EXPECT_EQ(errorOf([&] { reader.open(temp.path()); }),
              "Cannot open file \"" + platform::fullPath(temp.path()) + "\". " + platform::systemErrorText(EACCES));
    EXPECT_FALSE(reader.isOpen());
}

TEST(ZipOpen, ADownloadCutShortIsNoArchive) {
    TempFolder temp;
    {
        ZipWriter zip(temp / "whole.zip");
        zip.addFile("a.txt", varied(50000));
    }
    std::string bytes = readFile(temp / "whole.zip");
    writeFile(temp / "half.zip", bytes.substr(0, bytes.size() / 2));
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "half.zip", temp / "out/"); }), "Error reading zip file");
}

TEST(ZipOpen, TheEndRecordIsFoundBehindTheLongestComment) {
    TempFolder temp;
    const std::string archive = temp / "t.zip";
    {
        ZipWriter zip(archive);
        zip.addFile("a.txt", "a");
        zip.setComment(std::string(65535, 'c'));
    }
    ZipReader reader;
    reader.open(archive);
    EXPECT_EQ(reader.count(), 1u);
    reader.close();
    // One byte more than any comment can be: the record is out of reach.
    std::string bytes = readFile(archive);
    writeFile(archive, bytes + "x");
    EXPECT_EQ(errorOf([&] { reader.open(archive); }), "Error reading zip file");
}

TEST(ZipOpen, BadSignatures) {
    TempFolder temp;
    ZipEntryOptions badCentral;
    badCentral.badCentralSignature = true;
    ZipEntryOptions badLocal;
    badLocal.badLocalSignature = true;
    {
        ZipWriter zip(temp / "central.zip");
        zip.addFile("a.txt", "a");
        zip.addFile("b.txt", "b", badCentral);
    }
    {
        ZipWriter zip(temp / "local.zip");
        zip.addFile("a.txt", "a");
        zip.addFile("b.txt", "b", badLocal);
    }
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "central.zip", temp / "c/"); }), "Invalid Zip Central Header signature");
    EXPECT_FALSE(platform::folderExists(temp / "c"));
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "local.zip", temp / "l/"); }), "Invalid Zip Local Header signature");
    EXPECT_EQ(filesUnder(temp / "l/"), (std::vector<std::string>{"a.txt"}));
}

TEST(ZipOpen, UnsafeNamesAreRejectedBeforeAnythingIsWritten) {
    TempFolder temp;
    for (std::string name : {"/etc/passwd", "\\evil.txt", "C:evil.txt", "c:/evil.txt", "../evil.txt", "a/../../evil.txt",
                             "a\\..\\..\\evil.txt", "a/.."}) {
        const std::string archive = temp / "t.zip";
        {
            ZipWriter zip(archive);
            zip.addFile("harmless.txt", "first");
            zip.addFile(name, "x");
        }
        EXPECT_EQ(errorOf([&] { unpackArchive(archive, temp / "out/"); }), "Unsafe entry name: " + name);
        EXPECT_FALSE(platform::folderExists(temp / "out"));
    }
    // Dots that are not a level of their own are ordinary names.
    {
        ZipWriter zip(temp / "dots.zip");
        zip.addFile("a..b/..c", "dots");
    }
    unpackArchive(temp / "dots.zip", temp / "out/");
    EXPECT_EQ(readFile(temp / "out/a..b/..c"), "dots");
}

TEST(ZipTargets, ReadOnlyFilesBadCharactersAndLongPaths) {
    TempFolder temp;
    {
        ZipWriter zip(temp / "t.zip");
        zip.addFile("db.fdb", "new");
    }
    writeFile(temp / "db.fdb", "old");
    chmod((temp / "db.fdb").c_str(), 0444);
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "t.zip", temp.path()); }),
              "Cannot create file \"" + temp.path() + "db.fdb\". " + platform::systemErrorText(EACCES));
    EXPECT_EQ(readFile(temp / "db.fdb"), "old");

    for (std::string name : {"a|b.txt", "quote\".txt", "tab\t.txt", "<x>.txt"})
        EXPECT_EQ(errorOf([&] { ZipReader::targetPathFor(temp.path(), name); }), "Invalid characters in path") << name;

    std::string folder = temp.path();
    std::string level(200, 'f');
    EXPECT_EQ(ZipReader::targetPathFor(folder, "x.txt"), folder + "x.txt");
    EXPECT_EQ(errorOf([&] { ZipReader::targetPathFor(folder, level + "/" + level + "/x.txt"); }),
              "The specified path is too long");
    // The limit is on the folder the file goes into, in characters, not bytes.
    std::string justUnder(259 - folder.size() - 1, 'g');
    EXPECT_NO_THROW(ZipReader::targetPathFor(folder, justUnder + "/" + std::string(100, 'n')));
    EXPECT_EQ(errorOf([&] { ZipReader::targetPathFor(folder, justUnder + "g/x"); }), "The specified path is too long");
    std::string umlauts;
    for (std::size_t i = 0; i < justUnder.size(); ++i) umlauts += "\xC3\xBC";
    EXPECT_NO_THROW(ZipReader::targetPathFor(folder, umlauts + "/x"));
}

TEST(ZipTargets, FilesInTheWayFailOrAreWrittenOverKeepingTheFileItself) {
    TempFolder temp;
    const std::string out = temp / "out/";
    testing::makeFolders(out + "folder.txt");
    writeFile(out + "busy.txt", "held by another program");
    const int holder = ::open((out + "busy.txt").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0);
    ASSERT_EQ(::mkfifo((out + "pipe.txt").c_str(), 0666), 0);
    writeFile(out + "private.txt", std::string(100000, '#'));
    chmod((out + "private.txt").c_str(), 0640);
    writeFile(temp / "elsewhere.txt", "old");
    ASSERT_EQ(::link((temp / "elsewhere.txt").c_str(), (out + "linked.txt").c_str()), 0);
    writeFile(out + "cut.txt", std::string(300000, '#'));

    const auto unpackOne = [&](const std::string& name, const ZipEntryOptions& options = {}) {
        {
            ZipWriter zip(temp / "t.zip");
            zip.addFile(name, name == "cut.txt" ? varied(100000) : "new", options);
        }
        return errorOf([&] { unpackArchive(temp / "t.zip", out); });
    };
    const auto cannotCreate = [&](const std::string& name, int error) {
        return "Cannot create file \"" + out + name + "\". " + platform::systemErrorText(error);
    };
    EXPECT_EQ(unpackOne("folder.txt"), cannotCreate("folder.txt", EISDIR));
    EXPECT_EQ(unpackOne("busy.txt"), cannotCreate("busy.txt", EBUSY));
    EXPECT_EQ(readFile(out + "busy.txt"), "held by another program");
    ::close(holder);
    // A pipe of that name fails instead of waiting for a reader.
    EXPECT_EQ(unpackOne("pipe.txt"), cannotCreate("pipe.txt", ENXIO));

    // Nothing of a longer old file is left, and it keeps its permissions and other names.
    EXPECT_EQ(unpackOne("private.txt"), "<no error>");
    EXPECT_EQ(readFile(out + "private.txt"), "new");
    struct stat st {};
    ASSERT_EQ(::stat((out + "private.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(unpackOne("linked.txt"), "<no error>");
    EXPECT_EQ(readFile(temp / "elsewhere.txt"), "new");
    // An entry that breaks off leaves what was written, none of the old bytes after it.
    ZipEntryOptions damaged;
    damaged.damageDeflate = true;
    EXPECT_EQ(unpackOne("cut.txt", damaged), "data error");
    EXPECT_EQ(readFile(out + "cut.txt").find('#'), std::string::npos);
}

TEST(ZipListing, CountNamesAndSizesInDirectoryOrder) {
    TempFolder temp;
    ZipEntryOptions utf8;
    utf8.utf8Flag = true;
    {
        ZipWriter zip(temp / "t.zip");
        zip.addFolder("upd/");
        zip.addFile("upd/organizer.exe", varied(5000));
        zip.addFile("Gr\x81\xE1" "e.txt", "cp437");  // "Grüße" in code page 437
        zip.addFile("Gr\xC3\xBC\xC3\x9F" "e2.txt", "utf8", utf8);  // "Grüße2" in UTF-8
    }
    ZipReader reader;
    reader.open(temp / "t.zip");
    ASSERT_EQ(reader.count(), 4u);
    EXPECT_EQ(reader.entry(0).name, "upd/");
    EXPECT_TRUE(reader.entry(0).isFolder());
    EXPECT_EQ(reader.entry(1).name, "upd/organizer.exe");
    EXPECT_EQ(reader.entry(1).uncompressedSize, 5000u);
    EXPECT_EQ(reader.entry(2).name, "Gr\xC3\xBC\xC3\x9F" "e.txt");
    EXPECT_EQ(reader.entry(3).name, "Gr\xC3\xBC\xC3\x9F" "e2.txt");
    EXPECT_EQ(errorOf([&] { reader.entry(4); }), "List index out of bounds (4)");
    reader.close();
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.count(), 0u);
}

TEST(ZipListing, OneOpenArchiveExtractsEntriesAgainAnywhere) {
    TempFolder temp;
    {
        ZipWriter zip(temp / "t.zip");
        zip.addFile("sub/a.txt", varied(300000));
        zip.addFile("b.txt", "b");
    }
    ZipReader reader;
    reader.open(temp / "t.zip");
    reader.extract(0, temp / "stage/");
    std::filesystem::remove_all(temp / "stage");
    reader.extract(1, temp / "stage/");
    reader.extract(0, temp / "stage/");
    reader.extract(0, temp / "other/");
    EXPECT_TRUE(readFile(temp / "stage/sub/a.txt") == varied(300000));
    EXPECT_TRUE(readFile(temp / "other/sub/a.txt") == varied(300000));
    EXPECT_EQ(readFile(temp / "stage/b.txt"), "b");
}

TEST(ZipOpen, AnArchiveOpenedThroughADescriptorIsTheOneUnpackedWhateverTakesItsName) {
    TempFolder temp;
    {
        ZipWriter zip(temp / "checked.zip");
        zip.addFile("a.txt", "checked");
    }
    {
        ZipWriter zip(temp / "planted.zip");
        zip.addFile("a.txt", "planted");
    }
    const int fd = ::open((temp / "checked.zip").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ZipReader reader;
    reader.open(fd, temp / "checked.zip");
    ::close(fd);  // the reader holds its own
    ASSERT_EQ(std::rename((temp / "planted.zip").c_str(), (temp / "checked.zip").c_str()), 0);
    reader.extract(0, temp / "out/");
    EXPECT_EQ(readFile(temp / "out/a.txt"), "checked");

    // Its texts name the file it was given as.
    EXPECT_EQ(errorOf([&] { reader.open(-1, temp / "gone.zip"); }),
              "Cannot open file \"" + temp / "gone.zip" + "\". Bad file descriptor");
}

TEST(ZipNames, CodePage437MatchesTheSystemTable) {
    iconv_t cd = iconv_open("UTF-8", "CP437");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 0x20; b < 0x100; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* inPtr = in;
        char* outPtr = out;
        std::size_t inLeft = 1, outLeft = sizeof out;
        ASSERT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1)) << b;
        EXPECT_EQ(cp437ToUtf8(std::string(1, static_cast<char>(b))), std::string(out, outPtr)) << "byte " << b;
    }
    iconv_close(cd);
}

}  // namespace
}  // namespace quill
