#include "vendorkit/site_builder.h"

#include "platform/error.h"
#include "vendorkit/catalogue_builder.h"
#include "vendorkit/pe_writer.h"
#include "vendorkit/signed_site.h"
#include "vendorkit/site_pages.h"
#include "vendorkit/site_timestamps.h"
#include "vendorkit/zip_writer.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace quill::vendorkit {

namespace fs = std::filesystem;

namespace {

const char* const kMarker = ".vendor-site";

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw AppError("Cannot read \"" + path.string() + "\"");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw AppError("Cannot write \"" + path.string() + "\"");
}

// Firebird works on real files; they are made here and only their packed copies stay.
class WorkFolder {
public:
    WorkFolder() {
        std::string pattern = (fs::temp_directory_path() / "vendor_site.XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw AppError("Cannot create a work folder in " + fs::temp_directory_path().string());
        path_ = pattern;
    }
    ~WorkFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Names beyond ASCII are marked as UTF-8, or readers take them for code page 437.
// Every entry records its mode, as zip does: a program must keep the right to run.
ZipEntryOptions optionsFor(const std::string& name, bool deflate, unsigned mode = 0644) {
    ZipEntryOptions options;
    options.deflate = deflate;
    options.unixMode = mode;
    for (unsigned char c : name) options.utf8Flag = options.utf8Flag || c >= 0x80;
    return options;
}

void addFile(ZipWriter& zip, const std::string& name, const std::string& bytes, unsigned mode = 0644) {
    zip.addFile(name, bytes, optionsFor(name, true, mode));
}

// Adds the folder entries a path needs before its file, each once.
void addParents(ZipWriter& zip, std::set<std::string>& made, const std::string& path) {
    for (auto slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash + 1);
        if (made.insert(folder).second) zip.addFile(folder, {}, optionsFor(folder, false, 0755));
    }
}

std::vector<std::uint16_t> versionParts(const std::string& text) {
    std::vector<std::uint16_t> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, '.')) parts.push_back(static_cast<std::uint16_t>(std::stoi(part)));
    return parts;
}

std::string fileBytes(const SiteFile& file) {
    // A shell reads "#!/bin/sh\r" as a program that does not exist.
    if (file.script) return file.text + "\n";
    if (!file.programVersion) return windowsText(file.text);
    const auto v = versionParts(*file.programVersion);
    return buildPeWithVersion(v[0], v[1], v[2], v[3], false);
}

void prepareFolder(const fs::path& site) {
    std::error_code error;
    if (fs::exists(site, error) && !fs::is_directory(site, error))
        throw AppError("\"" + site.string() + "\" is not a folder");
    if (fs::exists(site, error) && !fs::is_empty(site, error) && !fs::exists(site / kMarker, error))
        throw AppError("\"" + site.string() + "\" is not empty and was not built by vendor_site; "
                       "give an empty or a new folder");
    fs::remove_all(site / "quillary-web-templates", error);
    fs::remove_all(site / "quillary-web", error);
    fs::create_directories(site / kTemplatesFolder);
    writeBytes(site / kMarker, "This folder was built by vendor_site; the next build replaces it.\n");
}

}  // namespace

std::string windowsText(const std::string& text) {
    if (text.empty()) return {};
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\r\n";
        else out += c;
    }
    return out + "\r\n";
}

bool isHostText(const std::string& text) {
    if (text.empty() || text[0] == ':') return false;
    for (unsigned char c : text)
        if (!(std::isalnum(c) || c == '.' || c == '-' || c == ':' || c == '_')) return false;
    const auto colon = text.find(':');
    if (colon == std::string::npos) return true;
    const std::string port = text.substr(colon + 1);
    return !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos &&
           std::stoi(port) > 0 && std::stoi(port) < 65536;
}

std::vector<std::string> buildSite(const SiteDescription& site, const std::string& siteFolder,
                                   const std::string& host, const SiteSigning& signing) {
    if (!isHostText(host)) throw AppError("\"" + host + "\" is not a host such as 127.0.0.1:8765");
    const SigningKey* signer = signing.signer;
    if (!signing.keyChain.empty()) {
        if (!signer) throw AppError("a key chain is published only with a signed site");
        const auto chain = readKeyChain(signing.keyChain);
        requireLastKey(chain, *signer, "the chain in \"" + signing.keyChain + "\"");
        requireOnlineKey(chain, signing.online, "the chain in \"" + signing.keyChain + "\"");
    } else if (signing.online) {
        // The program learns the online key from the chain only.
        throw AppError("an online key is used only with a key chain whose last link names it (--keys)");
    }
    const fs::path root(siteFolder);
    // Read before the folder is emptied: the program refuses a serial that does not rise.
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    const SigningStamp stamp{signer ? nextSerial(siteFolder, now, signer) : 0,
                             signing.expires ? signing.expires
                                             : defaultExpiry(now, signing.online ? kOnlineValidDays : kDefaultValidDays)};
    const SigningStamp timestamps{signing.online ? nextTimestampSerial(siteFolder, now, *signing.online) : 0,
                                  signing.freshUntil ? signing.freshUntil : now + kDefaultFreshHours * 3600};
    prepareFolder(root);
    WorkFolder work;
    std::vector<std::string> written;
    std::vector<std::string> templateArchives;  // as the manifest lists them

    std::vector<TemplateRow> rows;
    for (const auto& t : site.templates) {
        TemplateRow row;
        row.id = t.id;
        row.name = t.name;
        row.category = t.category;
        row.number = t.number;
        row.keywords = t.keywords;
        row.description = t.description;
        row.license = t.license;
        row.price = t.price;
        row.url = catalogueUrl(t, host);
        row.file = t.file;
        rows.push_back(row);
    }
    buildCatalogueArchive((work.path() / "temp.fdb").string(), (root / kTemplatesFolder / "temp.zip").string(), rows);
    written.push_back(kTemplatesFolder + "temp.zip");
    templateArchives.push_back("temp.zip");

    for (const auto& t : site.templates) {
        const fs::path database = work.path() / (std::to_string(*t.id) + ".fdb");
        try {
            if (t.sql.empty()) createTemplateDatabase(database.string());
            else createDatabase(database.string(), t.sql);
        } catch (const AppError& e) {
            throw AppError("template \"" + t.name + "\": its database could not be built: " + e.message());
        }
        ZipWriter zip((root / kTemplatesFolder / t.file).string());
        addFile(zip, "db.fdb", readBytes(database));
        std::set<std::string> folders{"db/"};
        zip.addFolder("db/", 0755);  // the data folder, even when it holds nothing
        for (const auto& f : t.dataFiles) {
            addParents(zip, folders, "db/" + f.path);
            addFile(zip, "db/" + f.path, fileBytes(f));
        }
        zip.finish();
        written.push_back(kTemplatesFolder + t.file);
        templateArchives.push_back(t.file);
        if (!t.url) {
            writeBytes(root / previewPagePath(t), previewPage(t));
            written.push_back(previewPagePath(t));
        }
    }

    if (site.version) {
        const SiteVersion& v = *site.version;
        fs::create_directories(root / kUpdateFolder);
        ZipWriter zip((root / kUpdateFolder / v.file).string());
        std::set<std::string> folders;
        for (const auto& f : v.files) {
            addParents(zip, folders, f.path);
            addFile(zip, f.path, fileBytes(f), f.programVersion || f.script ? 0755 : 0644);
        }
        zip.finish();
        written.push_back(kUpdateFolder + v.file);
        if (signer) {
            writeSignedVersionFile((root / kUpdateFolder).string(), v, *signer, stamp);
            written.push_back(kUpdateFolder + "version.txt.sig");
        } else {
            writeBytes(root / kUpdateFolder / "version.txt",
                       "[" + v.section + "]\r\nversion=" + v.version + "\r\nfile=" + v.file + "\r\n");
        }
        written.push_back(kUpdateFolder + "version.txt");
    }
    if (signer) {
        writeSignedManifest((root / kTemplatesFolder).string(), templateArchives, *signer, stamp);
        written.push_back(kTemplatesFolder + kManifestFileName);
        written.push_back(kTemplatesFolder + kManifestFileName + ".sig");
    }
    if (!signing.keyChain.empty()) {
        const auto links = publishKeyChain(signing.keyChain, siteFolder);
        written.insert(written.end(), links.begin(), links.end());
    }
    if (signing.online) {
        const auto stamps = writeTimestamps(siteFolder, *signing.online, timestamps);
        written.insert(written.end(), stamps.begin(), stamps.end());
    }

    writeBytes(root / "index.html", indexPage(site, host));
    written.push_back("index.html");
    return written;
}

}  // namespace quill::vendorkit
