// make_catalogue: builds a template catalogue (temp.zip or a bare database) or
// a small template database from the command line.
#include "platform/error.h"
#include "vendorkit/catalogue_builder.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "Usage:\n"
    "  make_catalogue ROWS.tsv OUTPUT.zip   build the catalogue database and pack it as temp.fdb\n"
    "  make_catalogue ROWS.tsv OUTPUT.fdb   build the catalogue database only\n"
    "  make_catalogue --template-db OUTPUT.fdb   build a small template database (db.fdb)\n"
    "\n"
    "ROWS.tsv holds one template per line, ten tab-separated fields:\n"
    "  ID NAME CATEGORY NUMBER KEYWORDS DESCRIPTION LICENSE PRICE URL FILE\n"
    "PRICE is a decimal such as 19.99. \\N stands for NULL; \\t, \\n and \\\\ inside a\n"
    "field stand for a tab, a line break and a backslash. Lines starting with # are skipped.\n"
    "A .zip output keeps its database beside it, named OUTPUT.zip.fdb.\n";

std::string unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    }
    return out;
}

std::int64_t parsePrice(const std::string& text) {
    const auto point = text.find('.');
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    fraction.resize(4, '0');
    const std::string whole = text.substr(0, point);
    const bool negative = !whole.empty() && whole[0] == '-';
    const std::int64_t units = whole.empty() || whole == "-" ? 0 : std::stoll(whole);
    return units * 10000 + (negative ? -1 : 1) * std::stoll(fraction);
}

std::vector<quill::vendorkit::TemplateRow> readRows(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw quill::AppError("Cannot open file \"" + path + "\"");
    std::vector<quill::vendorkit::TemplateRow> rows;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::optional<std::string>> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            fields.push_back(field == "\\N" ? std::nullopt : std::optional<std::string>(unescape(field)));
        if (!line.empty() && line.back() == '\t') fields.push_back(std::string());
        if (fields.size() != 10)
            throw quill::AppError(path + ":" + std::to_string(lineNumber) + ": expected 10 fields, found " +
                                  std::to_string(fields.size()));
        quill::vendorkit::TemplateRow row;
        if (fields[0]) row.id = std::stoi(*fields[0]);
        row.name = fields[1];
        row.category = fields[2];
        row.number = fields[3];
        row.keywords = fields[4];
        row.description = fields[5];
        row.license = fields[6];
        if (fields[7]) row.price = parsePrice(*fields[7]);
        row.url = fields[8];
        row.file = fields[9];
        rows.push_back(std::move(row));
    }
    return rows;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::cout << kUsage;
        return args.empty() ? 2 : 0;
    }
    try {
        if (args.size() == 2 && args[0] == "--template-db") {
            quill::vendorkit::createTemplateDatabase(args[1]);
            return 0;
        }
        if (args.size() != 2) {
            std::cerr << kUsage;
            return 2;
        }
        const auto rows = readRows(args[0]);
        if (endsWith(args[1], ".zip"))
            quill::vendorkit::buildCatalogueArchive(args[1] + ".fdb", args[1], rows);
        else
            quill::vendorkit::createCatalogueDatabase(args[1], rows);
        std::cout << rows.size() << " templates written to " << args[1] << "\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "make_catalogue: " << e.what() << "\n";
        return 1;
    }
}
