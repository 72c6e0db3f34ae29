// The vendor site as one plain text file: its templates (catalogue rows, the
// tables of each template's db.fdb, the files of its data folder) and the
// offered program version with its files. The format is described in
// demo/site.txt; parseSiteDescription is its one reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quill::vendorkit {

// A file of an archive: a text (written with CR LF line ends), a script
// (its text with LF line ends, executable), or, when programVersion is set,
// a Windows program file carrying that version.
struct SiteFile {
    std::string path;  // relative, "/" between levels
    std::string text;
    std::optional<std::string> programVersion;  // "1.1.0.0"
    int line = 0;
    bool script = false;
};

struct SiteTemplate {
    std::string name;
    std::optional<std::int32_t> id;  // given, or numbered in file order
    std::optional<std::string> category, number, keywords, description, license;
    std::optional<std::int64_t> price;  // ten-thousandths
    std::optional<std::string> url;     // absent: the generated preview page
    std::string file;                   // the archive's name on the site
    std::string preview;                // extra text for the generated page
    std::vector<std::string> sql;       // builds db.fdb; none: a small sample table
    std::vector<SiteFile> dataFiles;    // the data folder "db/", paths below it
    int line = 0;
};

struct SiteVersion {
    std::string section = "Quillary";
    std::string version;
    std::string file;
    std::vector<SiteFile> files;
    int line = 0;
};

struct SiteDescription {
    std::vector<SiteTemplate> templates;  // ids all set after parsing
    std::optional<SiteVersion> version;
};

// Parses the text of a description (UTF-8, an optional mark, LF or CR LF).
// Raises AppError "<source>:<line>: <what is wrong>" for the first mistake.
SiteDescription parseSiteDescription(const std::string& text, const std::string& source);

// Reads and parses a description file; raises AppError when it cannot be read.
SiteDescription loadSiteDescription(const std::string& path);

// "12.5" gives 125000; raises AppError for anything but digits with at most
// one "." and four decimals.
std::int64_t parsePrice(const std::string& text);

// Whether text is a relative "/" path that stays inside its folder.
bool isSafeRelativePath(const std::string& text);

}  // namespace quill::vendorkit
