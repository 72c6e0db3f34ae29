// Archives as the tools vendors use write them (zip_fixtures/make_fixtures.sh
// made them): written from a pipe, Zip64, with Unix modes, encrypted.
#include "workspace/transfer/zip_reader.h"

#include "platform/files.h"
#include "support/child_program.h"
#include "support/error_of.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"
#include "vendorkit/zip_writer.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quill {
namespace {

using testing::underUmask;
using testing::outputOf;
using testing::errorOf;
using testing::readFile;
using testing::snapshotTree;
using testing::TempFolder;
using testing::TreeSnapshot;
using testing::treeDifferences;
using testing::withMode;
using testing::writeFile;

std::string fixture(const std::string& name) { return std::string(QUILL_ZIP_FIXTURES) + name; }

// The tree make_fixtures.sh packs, as unpacking must leave it.
TreeSnapshot programTree() {
    return {{"final_inst", withMode(underUmask(0755), "#!/bin/sh\necho \"final_inst 1.1\"\n")},
            {"bin/", ""},
            {"bin/run.sh", withMode(underUmask(0755), "#!/bin/sh\necho \"run.sh ran\"\n")},
            {"secret.ini", withMode(0600, "password=owner-only\n")},
            {"readme.txt", withMode(underUmask(0644), "read me\n")}};
}

TEST(ZipFromTools, WhatIsWrittenFromAPipeIsTaken) {
    // The local header says 0xFFFFFFFF and puts the sizes in a Zip64 extra field.
    for (const char* name : {"piped_stdin.zip", "piped_named.zip"}) {
        SCOPED_TRACE(name);
        TempFolder out;
        unpackArchive(fixture(name), out.path());
        // Made from a pipe of mode 0600: the file gets the bits, not the kind.
        EXPECT_EQ(treeDifferences({{"-", withMode(0600, "hello from a pipe\n")}}, snapshotTree(out.path())), "");
    }
    TempFolder out;
    unpackArchive(fixture("python_zip64.zip"), out.path());
    std::string data;
    for (int i = 0; i < 10; ++i) data += "python says hello\n";
    EXPECT_EQ(treeDifferences({{"data.txt", withMode(0600, data)}, {"more.txt", withMode(0600, "second\n")}},
                              snapshotTree(out.path())),
              "");
}

TEST(ZipFromTools, Zip64ArchivesAndUnixModesAreTaken) {
    // zip -fz: a Zip64 end record, every size in Zip64 extra fields; bsdtar:
    // Zip64 local headers before data descriptors; zip -r: plain, with modes.
    for (const char* name : {"zip64_fz.zip", "bsdtar_zip64.zip", "modes.zip"}) {
        SCOPED_TRACE(name);
        TempFolder out;
        unpackArchive(fixture(name), out.path());
        EXPECT_EQ(treeDifferences(programTree(), snapshotTree(out.path())), "");
        EXPECT_EQ(outputOf("'" + out / "bin/run.sh" + "'"), "run.sh ran\n");
    }
}

TEST(ZipFromTools, EncryptedEntriesAreRefusedAtOpen) {
    for (const char* name : {"zipcrypto.zip", "aes.zip", "bsdtar_crypt.zip"}) {
        SCOPED_TRACE(name);
        ZipReader reader;
        EXPECT_EQ(errorOf([&] { reader.open(fixture(name)); }), "Encrypted entry: readme.txt");
        EXPECT_FALSE(reader.isOpen());
    }
}

TEST(ZipModes, AnEncryptedEntryAfterPlainOnesLeavesNothingWritten) {
    TempFolder temp;
    const std::string out = temp / "out/";
    testing::makeFolders(out);
    writeFile(out + "mine.txt", "the user's");
    const TreeSnapshot before = snapshotTree(out);
    vendorkit::ZipEntryOptions flagged;
    flagged.extraFlags = 1;
    vendorkit::ZipEntryOptions aes;
    aes.recordedMethod = 99;
    for (const auto& options : {flagged, aes}) {
        {
            vendorkit::ZipWriter zip(temp / "t.zip");
            zip.addFile("first.txt", "plain");
            zip.addFile("sub/second.txt", "plain too");
            zip.addFile("locked.txt", "noise", options);
        }
        EXPECT_EQ(errorOf([&] { unpackArchive(temp / "t.zip", out); }), "Encrypted entry: locked.txt");
        EXPECT_EQ(treeDifferences(before, snapshotTree(out)), "");
    }
}

// The bytes of a fixture with one little-endian value changed.
std::string patched(std::string bytes, std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    return bytes;
}

// Where the Zip64 extra field's first value sits in the central header of `name`.
std::size_t centralZip64Value(const std::string& bytes, const std::string& name) {
    const std::size_t header = bytes.find(name, bytes.find("PK\x01\x02")) - 46;
    const std::size_t extra = bytes.find(std::string("\x01\x00", 2), header + 46 + name.size());
    return extra + 4;
}

TEST(ZipBounds, Zip64SizesBindAsTheirShorterKindDoes) {
    const std::string fz = readFile(fixture("zip64_fz.zip"));
    TempFolder temp;
    const std::string out = temp / "out/";
    testing::makeFolders(out);
    writeFile(out + "mine.txt", "the user's");
    const TreeSnapshot before = snapshotTree(out);

    // Declared far beyond any disk: refused before the first byte is written.
    writeFile(temp / "huge.zip", patched(fz, centralZip64Value(fz, "final_inst"), 1ull << 50, 8));
    EXPECT_NE(errorOf([&] { unpackArchive(temp / "huge.zip", out); }).find("Not enough free disk space to unpack huge.zip"),
              std::string::npos);
    // Sizes that add up past 2^64 must not wrap round to a sum that fits.
    std::string wrapping = fz;
    for (const char* name : {"readme.txt", "secret.ini", "final_inst", "bin/run.sh"})
        wrapping = patched(wrapping, centralZip64Value(wrapping, name), 1ull << 62, 8);
    writeFile(temp / "wrapping.zip", wrapping);
    EXPECT_NE(errorOf([&] { unpackArchive(temp / "wrapping.zip", out); }).find("Not enough free disk space"),
              std::string::npos);
    // More than a file can hold: never taken as a size.
    writeFile(temp / "beyond.zip", patched(fz, centralZip64Value(fz, "final_inst"), 1ull << 63, 8));
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "beyond.zip", out); }), "Unsupported Zip64 entry: final_inst");
    // A size one byte short: the data holds more than declared.
    writeFile(temp / "short.zip", patched(fz, centralZip64Value(fz, "final_inst"), 31, 8));
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "short.zip", out); }), "Size error in final_inst");
    // The central directory's marker without the extra field that holds its value.
    {
        std::string bytes = fz;
        const std::size_t value = centralZip64Value(bytes, "final_inst");
        bytes[value - 4] = 0x02;  // the field's id is no longer Zip64's
        writeFile(temp / "lost.zip", bytes);
    }
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "lost.zip", out); }), "Unsupported Zip64 entry: final_inst");
    EXPECT_EQ(treeDifferences(before, snapshotTree(out)), "");

    // A local Zip64 size that is not the directory's is refused, as a 32-bit one is.
    const std::string piped = readFile(fixture("python_zip64.zip"));
    const std::size_t localExtra = piped.find(std::string("\x01\x00\x10\x00", 4));
    writeFile(temp / "lie.zip", patched(piped, localExtra + 4, 181, 8));
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "lie.zip", out); }), "Size error in data.txt");
    // A writer that puts only the marked size in the local extra field is taken too.
    const std::size_t local = localExtra - 30 - std::string("data.txt").size();
    std::string onlyOne = patched(patched(piped, localExtra + 2, 8, 2), local + 18, 23, 4);
    writeFile(temp / "one.zip", onlyOne);
    TempFolder one;
    unpackArchive(temp / "one.zip", one.path());
    EXPECT_EQ(readFile(one / "data.txt").size(), 180u);
    EXPECT_EQ(treeDifferences(before, snapshotTree(out)), "");
}

TEST(ZipOpen, AZip64EndRecordIsReadOnlyForTheValuesThatNeedIt) {
    const std::string fz = readFile(fixture("zip64_fz.zip"));
    TempFolder temp;
    // The locator points where there is no Zip64 end record.
    const std::size_t locator = fz.rfind("PK\x06\x07");
    writeFile(temp / "nowhere.zip", patched(fz, locator + 8, 5, 8));
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "nowhere.zip", temp.path()); }), "Error reading zip file");
    // The locator finds something that is no Zip64 end record.
    std::string unsigned_ = fz;
    unsigned_[fz.rfind("PK\x06\x06") + 3] = 0x07;
    writeFile(temp / "unsigned.zip", unsigned_);
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "unsigned.zip", temp.path()); }), "Error reading zip file");
    // A count that no file of this size holds sizes nothing.
    const std::size_t record = fz.rfind("PK\x06\x06");
    writeFile(temp / "many.zip", patched(patched(fz, fz.rfind("PK\x05\x06") + 10, 0xFFFF, 2), record + 32, 1ull << 40, 8));
    EXPECT_EQ(errorOf([&] { unpackArchive(temp / "many.zip", temp.path()); }), "Error reading zip file");
    // Info-ZIP writes the Zip64 records behind a whole 32-bit end record from
    // a pipe; the 32-bit values stand, whatever the Zip64 record says.
    std::string piped = readFile(fixture("piped_stdin.zip"));
    const std::size_t pipedRecord = piped.rfind("PK\x06\x06");
    writeFile(temp / "p.zip", patched(piped, pipedRecord + 48, 7, 8));
    ZipReader reader;
    reader.open(temp / "p.zip");
    ASSERT_EQ(reader.count(), 1u);
    EXPECT_EQ(reader.entry(0).uncompressedSize, 18u);
}

TEST(ZipModes, EachFileGetsItsEntrysModeTheModeOfTheFileItReplacesOrTheDefault) {
    TempFolder temp;
    const std::string out = temp / "out/";
    const std::string old = temp / "old/";
    testing::makeFolders(out);
    testing::makeFolders(old);
    writeFile(old + "tool", "old tool");
    platform::setPermissions(old + "tool", 0750);
    writeFile(old + "own.txt", "old own");
    platform::setPermissions(old + "own.txt", 0640);
    // Written over in place, a file keeps its bits unless the entry has its own.
    writeFile(out + "kept.txt", "before");
    platform::setPermissions(out + "kept.txt", 0604);
    {
        vendorkit::ZipWriter zip(temp / "t.zip");
        zip.addFile("tool", "new tool");  // made on DOS: no mode of its own
        vendorkit::ZipEntryOptions own;
        own.unixMode = 04777;  // setuid and all to all: rwx only, the umask's share taken off
        zip.addFile("own.txt", "new own", own);
        vendorkit::ZipEntryOptions readOnly;
        readOnly.unixMode = 0444;  // still the program's to replace next time
        zip.addFile("ro.txt", "ro", readOnly);
        zip.addFile("fresh.txt", "fresh");
        zip.addFile("kept.txt", "after");
        vendorkit::ZipEntryOptions link;
        link.unixMode = 0120777;  // a link, unpacked as a file holding its target: nothing to run
        zip.addFile("link", "fresh.txt", link);
    }
    ZipReader reader;
    reader.open(temp / "t.zip");
    reader.extractAll(out, [&](const ZipEntry& entry) { return old + entry.name; });
    const TreeSnapshot expected{{"tool", withMode(0750, "new tool")},
                                {"own.txt", withMode(underUmask(0777), "new own")},
                                {"ro.txt", withMode(underUmask(0644), "ro")},
                                {"fresh.txt", withMode(underUmask(0666), "fresh")},
                                {"kept.txt", withMode(0604, "after")},
                                {"link", withMode(underUmask(0666), "fresh.txt")}};
    EXPECT_EQ(treeDifferences(expected, snapshotTree(out)), "");
}

TEST(ZipModes, AttributesFromAnotherSystemAreNoUnixMode) {
    // modes.zip with every entry said to be made on DOS: the high half of the
    // attributes means nothing there.
    std::string bytes = readFile(fixture("modes.zip"));
    for (auto at = bytes.find("PK\x01\x02"); at != std::string::npos; at = bytes.find("PK\x01\x02", at + 4)) bytes[at + 5] = 0;
    TempFolder temp;
    writeFile(temp / "dos.zip", bytes);
    const std::string out = temp / "out/";
    testing::makeFolders(out);
    unpackArchive(temp / "dos.zip", out);
    for (const auto& [path, content] : snapshotTree(out)) EXPECT_EQ(content.find("[mode"), std::string::npos) << path;
}

TEST(ZipModes, TheFileThatReplacesTheRunningProgramKeepsTheRightToRun) {
    TempFolder temp;
    {
        vendorkit::ZipWriter zip(temp / "t.zip");
        vendorkit::ZipEntryOptions plain;
        plain.unixMode = 0644;  // packed without its execute bits
        zip.addFile("program", "new program", plain);
    }
    struct stat running {};
    ASSERT_EQ(::stat(platform::modulePath().c_str(), &running), 0);
    ZipReader reader;
    reader.open(temp / "t.zip");
    const std::string out = temp / "out/";
    testing::makeFolders(out);
    reader.extractAll(out, [](const ZipEntry&) { return platform::modulePath(); });
    struct stat made {};
    ASSERT_EQ(::stat((out + "program").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0111, running.st_mode & 0111);
    EXPECT_NE(made.st_mode & 0111, 0u);
}

}  // namespace
}  // namespace quill
