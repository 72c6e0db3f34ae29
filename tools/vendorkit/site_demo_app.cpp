#include "vendorkit/site_demo_app.h"

#include "platform/error.h"
#include "vendorkit/pe_writer.h"
#include "vendorkit/site_builder.h"

#include <filesystem>
#include <fstream>

namespace quill::vendorkit {

namespace fs = std::filesystem;

const std::string kDemoReadme =
    "Quillary 1.0\r\n"
    "\r\n"
    "Thank you for choosing Quillary, the organizer for your notes, contacts and lists.\r\n"
    "Open the program from the Start menu; your templates live in the folder db.\r\n";

namespace {

const char* const kMarker = ".demo-app";

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw AppError("Cannot write \"" + path.string() + "\"");
}

}  // namespace

std::vector<std::string> createDemoApp(const std::string& appFolder, const std::string& host) {
    if (!isHostText(host)) throw AppError("\"" + host + "\" is not a host such as 127.0.0.1:8765");
    std::error_code error;
    const fs::path folder = fs::absolute(appFolder).lexically_normal();
    if (fs::exists(folder, error)) {
        if (!fs::is_directory(folder, error)) throw AppError("\"" + folder.string() + "\" is not a folder");
        if (!fs::is_empty(folder, error)) {
            if (!fs::exists(folder / kMarker, error))
                throw AppError("\"" + folder.string() + "\" is not empty and was not made by vendor_site demo-app; "
                               "give an empty or a new folder");
            for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
        }
    }
    fs::create_directories(folder);
    std::string app = folder.string();
    if (app.back() != '/') app += '/';

    // As the organizer's setup writes them on Windows: ANSI text, CR LF.
    writeBytes(folder / "db.ini",
               "[quillary]\r\n"
               "DriverName=Firebird\r\n"
               "Database=" + app + "db/db.fdb\r\n"
               "User_Name=SYSDBA\r\n"
               "Password=masterkey\r\n"
               "ServerCharSet=UTF8\r\n"
               "SQLDialect=3\r\n"
               "BlobSize=-1\r\n"
               "WaitOnLocks=True\r\n");
    writeBytes(folder / "upg_info.txt", "quillary.exe\r\nhttp://" + host + "/" + kUpdateFolder + "\r\nQuillary\r\n");
    writeBytes(folder / "quillary.exe", buildPeWithVersion(1, 0, 0, 0, false));
    writeBytes(folder / "readme.txt", kDemoReadme);
    fs::create_directories(folder / "db");
    fs::create_directories(folder / "data");
    writeBytes(folder / kMarker, "Made by vendor_site demo-app; the next demo-app empties this folder.\n");
    return {"db.ini", "upg_info.txt", "quillary.exe", "readme.txt", "db/", "data/"};
}

}  // namespace quill::vendorkit
