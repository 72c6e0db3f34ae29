#include "support/sample_changes.h"

#include "support/temp_folder.h"
#include "vendorkit/zip_writer.h"
#include "workspace/change/folder_change.h"

#include <filesystem>

namespace quill::testing {

namespace {

const std::string kOddName = "line\nbreak\ttab\\back\r.txt";

struct NewFile {
    std::string name;
    std::string bytes;
};

// The update's entries; help/ and the odd name are new, the rest replace files.
const NewFile kUpdateFiles[] = {
    {"quillary.exe", "program 1.1"},
    {"readme.txt", "readme 1.1"},
    {"bin/tool.dll", "tool 1.1"},
    {"help/manual.txt", "manual 1.1"},
    {kOddName, "odd 1.1"},
};

}  // namespace

void makeSampleAppFolder(const std::string& app) {
    makeFolders(app + "db");
    makeFolders(app + "data/db/sub");
    makeFolders(app + "bin");
    makeFolders(app + "upgr_bak");
    writeFile(app + "db/db.fdb", "old database");
    writeFile(app + "data/templates.ini", "Main=db\r\n");
    writeFile(app + "data/db/notes.txt", "old notes");
    writeFile(app + "data/db/sub/" + kOddName, "old odd");
    writeFile(app + "quillary.exe", "program 1.0");
    std::filesystem::permissions(app + "quillary.exe", std::filesystem::perms(0755));  // it must keep running
    writeFile(app + "readme.txt", "readme 1.0");
    writeFile(app + "bin/tool.dll", "tool 1.0");
    // An earlier update's backup: this time readme.txt cannot be backed up.
    writeFile(app + "upgr_bak/readme.txt", "readme 0.9");
}

void runSampleInstallation(const std::string& app) {
    FolderChange change(app, ChangeKind::Installation);
    const std::string work = app + "data/tmp7/";
    change.makeWorkFolder(work);
    makeFolders(work + "db/sub");
    writeFile(work + "db.fdb", "new database");
    std::filesystem::permissions(work + "db.fdb", std::filesystem::perms(0640));  // the copy must carry it
    writeFile(work + "db/notes.txt", "new notes");
    writeFile(work + "db/sub/" + kOddName, "new odd");

    change.keepAside(app + "db/db.fdb", app + "db/.db.fdb.keep0");
    change.copy(work + "db.fdb", app + "db/db.fdb");
    change.keepAside(app + "data/db", work + "db.keep");
    change.move(work + "db", app + "data/db");
    change.commit();
}

TreeSnapshot afterSampleInstallation(const TreeSnapshot& before) {
    TreeSnapshot after = before;
    after["db/db.fdb"] = withMode(0640, "new database");
    after["data/db/notes.txt"] = "new notes";
    after.erase("data/db/sub/" + kOddName);
    after["data/db/sub/" + kOddName] = "new odd";
    return after;
}

void runSampleUpdate(const std::string& app) {
    FolderChange change(app, ChangeKind::Update);
    const std::string work = app + ".upgr_work0/";
    change.makeWorkFolder(work);
    change.addScratchFile(work + "update.zip");
    writeFile(work + "update.zip", "the archive");
    makeFolders(work + "stage/bin");
    makeFolders(work + "stage/help");
    for (const auto& file : kUpdateFiles) writeFile(work + "stage/" + file.name, file.bytes);

    FolderChange::Burst burst;
    burst.move(app + "quillary.exe", app + "upgr_bak/quillary.exe");
    burst.keepAside(app + "readme.txt", work + "aside0");   // its backup name is taken
    burst.keepAside(app + "bin/tool.dll", work + "aside1");  // upgr_bak has no folder bin
    burst.makeFolder(app + "help");
    for (const auto& file : kUpdateFiles) burst.move(work + "stage/" + file.name, app + file.name);
    change.carryOut(burst);
    change.commit();
}

TreeSnapshot afterSampleUpdate(const TreeSnapshot& before) {
    TreeSnapshot after = before;
    for (const auto& file : kUpdateFiles) after[file.name] = file.bytes;
    after["help/"] = "";
    after["upgr_bak/quillary.exe"] = before.at("quillary.exe");
    return after;
}

void writeSampleTemplateArchive(const std::string& path, const std::string& database, const std::string& notes) {
    vendorkit::ZipWriter zip(path);
    zip.addFile("readme.txt", "read me");
    zip.addFile("db.fdb", database);
    zip.addFolder("db/");
    zip.addFile("db/notes.txt", notes);
    zip.addFile("db/forms/a.frm", "form a");
    zip.finish();
}

std::string sampleUpdateArchive(const std::string& program) {
    TempFolder scratch;
    vendorkit::ZipWriter zip(scratch / "update.zip");
    zip.addFile("quillary.exe", program);  // made on DOS: takes the mode of the program it replaces
    vendorkit::ZipEntryOptions ownerOnly;
    ownerOnly.unixMode = 0600;
    zip.addFile("readme.txt", "readme 1.1", ownerOnly);
    zip.addFile("bin/tool.dll", "tool 1.1");
    vendorkit::ZipEntryOptions runs;
    runs.unixMode = 0700;
    zip.addFile("help/manual.txt", "manual 1.1", runs);
    zip.addFolder("plugins/");
    zip.finish();
    return readFile(scratch / "update.zip");
}

}  // namespace quill::testing
