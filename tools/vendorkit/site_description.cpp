#include "vendorkit/site_description.h"

#include "platform/error.h"

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace quill::vendorkit {

namespace {

struct Item {
    std::string key;       // the first word, lower case
    std::string argument;  // the rest of the key, such as a path
    std::string value;
    int line = 0;
};

struct Section {
    std::string header;  // as written between the brackets, trimmed
    int line = 0;
    std::vector<Item> items;
};

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    const auto end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t more = c < 0x80 ? 0 : c >= 0xC2 && c < 0xE0 ? 1 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xF0 && c < 0xF5 ? 3 : 9;
        if (more == 9 || i + more >= text.size() + (more == 0)) return false;
        for (std::size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) return false;
        i += more + 1;
    }
    return true;
}

class Parser {
public:
    explicit Parser(std::string source) : source_(std::move(source)) {}

    [[noreturn]] void fail(int line, const std::string& what) const {
        throw AppError(source_ + ":" + std::to_string(line) + ": " + what);
    }

    std::vector<Section> split(const std::string& text) {
        std::vector<Section> sections;
        std::string body = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
        std::istringstream in(body);
        std::string raw;
        int number = 0;
        Item* open = nullptr;  // the value that indented lines continue
        bool continued = false;
        while (std::getline(in, raw)) {
            ++number;
            if (!raw.empty() && raw.back() == '\r') raw.pop_back();
            if (!isUtf8(raw)) fail(number, "the line is not UTF-8 text");
            const std::string line = trimmed(raw);
            if (line.empty() || raw[0] == '#' || raw[0] == ';') {
                open = nullptr;
                continue;
            }
            if (raw[0] == ' ' || raw[0] == '\t') {
                if (!open) fail(number, "an indented line continues a value, but no value comes before it");
                const std::string piece = line == "." ? std::string() : line;
                if (!continued && open->value.empty()) open->value = piece;
                else open->value += "\n" + piece;
                continued = true;
                continue;
            }
            open = nullptr;
            if (line[0] == '[') {
                if (line.back() != ']') fail(number, "a section header ends in \"]\"");
                sections.push_back({trimmed(line.substr(1, line.size() - 2)), number, {}});
                continue;
            }
            const auto eq = line.find('=');
            if (eq == std::string::npos) fail(number, "expected \"name = value\"");
            if (sections.empty()) fail(number, "a value before the first [template ...] or [version] section");
            const std::string key = trimmed(line.substr(0, eq));
            const auto blank = key.find_first_of(" \t");
            Item item;
            item.key = lowered(key.substr(0, blank));
            item.argument = blank == std::string::npos ? std::string() : trimmed(key.substr(blank));
            item.value = trimmed(line.substr(eq + 1));
            item.line = number;
            if (item.key.empty()) fail(number, "a value without a name");
            sections.back().items.push_back(item);
            open = &sections.back().items.back();
            continued = false;
        }
        return sections;
    }

    SiteDescription interpret(const std::vector<Section>& sections) {
        SiteDescription site;
        for (const auto& section : sections) {
            const std::string header = lowered(section.header);
            if (header.rfind("template", 0) == 0 && (header.size() == 8 || header[8] == ' ' || header[8] == '\t')) {
                site.templates.push_back(readTemplate(section));
            } else if (header == "version") {
                if (site.version) fail(section.line, "a second [version] section; a site offers one version");
                site.version = readVersion(section);
            } else {
                fail(section.line, "unknown section [" + section.header + "]; expected [template NAME] or [version]");
            }
        }
        numberTemplates(site.templates);
        checkUnique(site.templates);
        return site;
    }

private:
    void once(std::set<std::string>& seen, const Item& item) const {
        if (!seen.insert(item.key).second) fail(item.line, "\"" + item.key + "\" is given twice");
    }

    void noArgument(const Item& item) const {
        if (!item.argument.empty()) fail(item.line, "unknown name \"" + item.key + " " + item.argument + "\"");
    }

    std::string checkedPath(const Item& item) const {
        if (item.argument.empty()) fail(item.line, "\"" + item.key + "\" needs a path: " + item.key + " PATH = ...");
        if (!isSafeRelativePath(item.argument))
            fail(item.line, "\"" + item.argument + "\" is not a relative path inside its folder (use \"/\", no \"..\")");
        return item.argument;
    }

    std::string checkedArchiveName(const Item& item) const {
        const std::string& name = item.value;
        bool plain = !name.empty() && name[0] != '.';
        for (char c : name)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) plain = false;
        if (!plain) fail(item.line, "an archive name uses letters, digits, \"-\", \"_\" and \".\" only");
        // The program unpacks the downloaded name with its extension made ".zip".
        if (name.size() < 5 || lowered(name.substr(name.size() - 4)) != ".zip")
            fail(item.line, "an archive name ends in \".zip\"");
        return name;
    }

    SiteTemplate readTemplate(const Section& section) {
        SiteTemplate t;
        t.name = trimmed(section.header.substr(8));
        t.line = section.line;
        if (t.name.empty()) fail(section.line, "a template needs a name: [template NAME]");
        std::set<std::string> seen;
        for (const auto& item : section.items) {
            const std::string& k = item.key;
            if (k == "sql") {
                noArgument(item);
                if (item.value.empty()) fail(item.line, "an empty SQL statement");
                t.sql.push_back(item.value);
                continue;
            }
            if (k == "data") {
                t.dataFiles.push_back({checkedPath(item), item.value, std::nullopt, item.line});
                continue;
            }
            noArgument(item);
            once(seen, item);
            if (k == "id") {
                try {
                    std::size_t used = 0;
                    const long long id = std::stoll(item.value, &used);
                    if (used != item.value.size() || id < -2147483648LL || id > 2147483647LL) throw 0;
                    t.id = static_cast<std::int32_t>(id);
                } catch (...) {
                    fail(item.line, "an id is a whole number");
                }
            } else if (k == "category") t.category = item.value;
            else if (k == "number") t.number = item.value;
            else if (k == "keywords") t.keywords = item.value;
            else if (k == "description") t.description = item.value;
            else if (k == "license") t.license = item.value;
            else if (k == "url") t.url = item.value;
            else if (k == "preview") t.preview = item.value;
            else if (k == "file") t.file = checkedArchiveName(item);
            else if (k == "price") {
                try {
                    t.price = parsePrice(item.value);
                } catch (const AppError& e) {
                    fail(item.line, e.message());
                }
            } else fail(item.line, "unknown name \"" + k + "\" in a template");
        }
        if (t.file.empty()) fail(section.line, "template \"" + t.name + "\" has no \"file = NAME.zip\"");
        return t;
    }

    SiteVersion readVersion(const Section& section) {
        SiteVersion v;
        v.line = section.line;
        std::set<std::string> seen;
        for (const auto& item : section.items) {
            const std::string& k = item.key;
            if (k == "put") {
                v.files.push_back({checkedPath(item), item.value, std::nullopt, item.line});
                continue;
            }
            if (k == "script") {
                v.files.push_back({checkedPath(item), item.value, std::nullopt, item.line, true});
                continue;
            }
            if (k == "program") {
                if (!isFourPartVersion(item.value))
                    fail(item.line, "a program file's version has four numbers, such as 1.1.0.0");
                v.files.push_back({checkedPath(item), {}, item.value, item.line});
                continue;
            }
            noArgument(item);
            once(seen, item);
            if (k == "section") v.section = item.value;
            else if (k == "version") v.version = item.value;
            else if (k == "file") v.file = checkedArchiveName(item);
            else fail(item.line, "unknown name \"" + k + "\" in [version]");
        }
        if (v.version.empty()) fail(section.line, "[version] has no \"version = ...\"");
        if (v.file.empty()) fail(section.line, "[version] has no \"file = NAME.zip\"");
        if (v.section.empty() || v.section.find_first_of("[]") != std::string::npos)
            fail(section.line, "[version] needs a section name without brackets");
        std::set<std::string> paths;
        for (const auto& f : v.files)
            if (!paths.insert(lowered(f.path)).second) fail(f.line, "\"" + f.path + "\" is in the archive twice");
        return v;
    }

    static bool isFourPartVersion(const std::string& text) {
        std::istringstream in(text);
        std::string part;
        int parts = 0;
        while (std::getline(in, part, '.')) {
            if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(part) > 65535)
                return false;
            ++parts;
        }
        return parts == 4 && text.back() != '.';
    }

    void numberTemplates(std::vector<SiteTemplate>& templates) const {
        std::map<std::int32_t, int> given;
        for (const auto& t : templates)
            if (t.id && !given.emplace(*t.id, t.line).second)
                fail(t.line, "id " + std::to_string(*t.id) + " is used by two templates");
        std::int32_t next = 1;
        for (auto& t : templates) {
            if (t.id) continue;
            while (given.count(next)) ++next;
            t.id = next++;
        }
    }

    void checkUnique(const std::vector<SiteTemplate>& templates) const {
        std::set<std::string> names, files;
        for (const auto& t : templates) {
            if (!names.insert(t.name).second) fail(t.line, "two templates are named \"" + t.name + "\"");
            if (!files.insert(lowered(t.file)).second) fail(t.line, "two templates use the archive \"" + t.file + "\"");
            if (lowered(t.file) == "temp.zip") fail(t.line, "\"temp.zip\" is the catalogue's own archive");
            std::set<std::string> paths;
            for (const auto& f : t.dataFiles)
                if (!paths.insert(lowered(f.path)).second) fail(f.line, "\"" + f.path + "\" is given twice");
        }
    }

    std::string source_;
};

}  // namespace

std::int64_t parsePrice(const std::string& text) {
    const auto dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    const bool digits = !whole.empty() && whole.size() <= 14 &&
                        whole.find_first_not_of("0123456789") == std::string::npos &&
                        fraction.find_first_not_of("0123456789") == std::string::npos && fraction.size() <= 4 &&
                        (dot == std::string::npos || !fraction.empty());
    if (!digits) throw AppError("a price is written like 12.50 (digits, \".\", at most four decimals)");
    std::int64_t amount = std::stoll(whole) * 10000;
    std::string decimals = fraction + std::string(4 - fraction.size(), '0');
    return amount + std::stoll(decimals);
}

bool isSafeRelativePath(const std::string& text) {
    if (text.empty() || text[0] == '/' || text.back() == '/') return false;
    if (text.find_first_of("\\:") != std::string::npos) return false;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, '/'))
        if (part.empty() || part == "." || part == "..") return false;
    for (unsigned char c : text)
        if (c < 0x20) return false;
    return true;
}

SiteDescription parseSiteDescription(const std::string& text, const std::string& source) {
    Parser parser(source);
    return parser.interpret(parser.split(text));
}

SiteDescription loadSiteDescription(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw AppError("Cannot open the site description \"" + path + "\"");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return parseSiteDescription(bytes.str(), path);
}

}  // namespace quill::vendorkit
