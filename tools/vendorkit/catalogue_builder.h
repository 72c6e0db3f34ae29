// Builds real Firebird catalogue databases (table TEMPLATES) and template
// databases, and packs a catalogue as the archive the vendor site serves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quill::vendorkit {

// One template; an absent value is stored as NULL. The description is written
// as raw bytes, so it may hold bytes that are not UTF-8.
struct TemplateRow {
    std::optional<std::int32_t> id;
    std::optional<std::string> name;
    std::optional<std::string> category;
    std::optional<std::string> number;
    std::optional<std::string> keywords;
    std::optional<std::string> description;
    std::optional<std::string> license;
    std::optional<std::int64_t> price;  // ten-thousandths
    std::optional<std::string> url;
    std::optional<std::string> file;
};

// A usual row: every text filled from `name` and `id`.
TemplateRow sampleTemplate(std::int32_t id, const std::string& name, const std::string& category);

// Creates (replacing) a UTF8 database at path owned by SYSDBA/quietbird, runs
// every DDL statement and commits. Raises AppError with Firebird's text.
void createDatabase(const std::string& path, const std::vector<std::string>& statements);

// Creates the catalogue database with table TEMPLATES holding rows in order.
// DESCRIPTION is a text blob of character set NONE, so its bytes are stored and
// delivered as they are, whatever the connection's character set.
// Then runs `code`, each statement committed on its own, in an attachment with
// the database's triggers off: what a hostile vendor adds after the rows, such
// as database triggers, procedures, a view that replaces TEMPLATES or a computed
// column, shadows or a backup lock. The triggers it makes never fire while the
// catalogue is built.
void createCatalogueDatabase(const std::string& path, const std::vector<TemplateRow>& rows,
                             const std::vector<std::string>& code = {});

// Packs the database file as archive entry `entryName` (deflated).
void packDatabase(const std::string& databasePath, const std::string& zipPath,
                  const std::string& entryName = "temp.fdb");

// createCatalogueDatabase into `databasePath`, then packDatabase as "temp.fdb".
void buildCatalogueArchive(const std::string& databasePath, const std::string& zipPath,
                           const std::vector<TemplateRow>& rows, const std::vector<std::string>& code = {});

// A small template database (one table ITEMS with two rows), such as db.fdb.
void createTemplateDatabase(const std::string& path);

}  // namespace quill::vendorkit
