#include "vendorkit/catalogue_builder.h"

#include "platform/error.h"
#include "vendorkit/zip_writer.h"

#include <ibase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace quill::vendorkit {

namespace {

void check(const ISC_STATUS* status) {
    if (status[0] != 1 || status[1] == 0) return;
    std::string text;
    char line[1024];
    const ISC_STATUS* cursor = status;
    while (fb_interpret(line, sizeof line, &cursor) > 0) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    throw AppError(text.empty() ? "Unknown database error" : text);
}

std::string quotedLiteral(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

// Without triggers, the code a hostile catalogue is given never runs while it is built.
enum class Open { Create, Attach, AttachWithoutTriggers };

// One attachment with one open transaction, rolled back unless committed.
class Session {
public:
    Session(const std::string& path, Open how) {
        ISC_STATUS_ARRAY status;
        if (how == Open::Create) {
            std::remove(path.c_str());
            const std::string sql = "CREATE DATABASE '" + quotedLiteral(path) +
                                    "' USER 'SYSDBA' PASSWORD 'quietbird' DEFAULT CHARACTER SET UTF8";
            isc_tr_handle none = 0;
            isc_dsql_execute_immediate(status, &db, &none, 0, sql.c_str(), SQL_DIALECT_V6, nullptr);
            check(status);
        } else {
            std::string dpb(1, static_cast<char>(isc_dpb_version1));
            auto add = [&](char tag, const std::string& value) {
                dpb += tag;
                dpb += static_cast<char>(value.size());
                dpb += value;
            };
            add(isc_dpb_user_name, "SYSDBA");
            add(isc_dpb_password, "quietbird");
            add(isc_dpb_lc_ctype, "UTF8");
            if (how == Open::AttachWithoutTriggers) add(isc_dpb_no_db_triggers, std::string(1, '\1'));
            isc_attach_database(status, 0, path.c_str(), &db, static_cast<short>(dpb.size()), dpb.data());
            check(status);
        }
        begin();
    }
    ~Session() {
        ISC_STATUS_ARRAY status;
        if (tr) isc_rollback_transaction(status, &tr);
        if (db) isc_detach_database(status, &db);
    }
    void begin() {
        ISC_STATUS_ARRAY status;
        isc_start_transaction(status, &tr, 1, &db, 0, nullptr);
        check(status);
    }
    void commit() {
        ISC_STATUS_ARRAY status;
        isc_commit_transaction(status, &tr);
        check(status);
        tr = 0;
    }
    void execute(const std::string& sql) {
        ISC_STATUS_ARRAY status;
        isc_dsql_execute_immediate(status, &db, &tr, 0, sql.c_str(), SQL_DIALECT_V6, nullptr);
        check(status);
    }
    ISC_QUAD createBlob(const std::string& bytes) {
        ISC_STATUS_ARRAY status;
        isc_blob_handle blob = 0;
        ISC_QUAD id{};
        isc_create_blob2(status, &db, &tr, &blob, &id, 0, nullptr);
        check(status);
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 32768);
            isc_put_segment(status, &blob, static_cast<unsigned short>(n), bytes.data() + at);
            check(status);
            at += n;
        }
        isc_close_blob(status, &blob);
        check(status);
        return id;
    }
    void detach() {
        if (tr) commit();
        ISC_STATUS_ARRAY status;
        isc_detach_database(status, &db);
        check(status);
        db = 0;
    }

    isc_db_handle db = 0;
    isc_tr_handle tr = 0;
};

struct XsqldaFree {
    void operator()(XSQLDA* p) const { std::free(p); }
};

const char* const kTemplatesTable =
    "CREATE TABLE TEMPLATES (ID INTEGER, NAME VARCHAR(200), CATEGORY VARCHAR(100), "
    "NUMBER VARCHAR(50), KEYWORDS VARCHAR(500), DESCRIPTION BLOB SUB_TYPE TEXT CHARACTER SET NONE, "
    "LICENSE VARCHAR(100), PRICE NUMERIC(18,4), URL VARCHAR(500), FILE VARCHAR(200))";

const char* const kInsert =
    "INSERT INTO TEMPLATES (ID, NAME, CATEGORY, NUMBER, KEYWORDS, DESCRIPTION, LICENSE, PRICE, URL, FILE) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

void runEach(Session& session, const std::vector<std::string>& statements) {
    for (const auto& sql : statements) {
        session.execute(sql);
        session.commit();  // DDL must be committed before the next statement uses it
        session.begin();
    }
    session.detach();
}

}  // namespace

TemplateRow sampleTemplate(std::int32_t id, const std::string& name, const std::string& category) {
    TemplateRow row;
    row.id = id;
    row.name = name;
    row.category = category;
    row.number = "N" + std::to_string(id);
    row.keywords = "keywords of " + name;
    row.description = "Description of " + name;
    row.license = "Standard";
    row.price = 199900;
    row.url = "http://127.0.0.1/preview/" + std::to_string(id) + ".html";
    row.file = "template" + std::to_string(id) + ".zip";
    return row;
}

void createDatabase(const std::string& path, const std::vector<std::string>& statements) {
    Session session(path, Open::Create);
    runEach(session, statements);
}

void createCatalogueDatabase(const std::string& path, const std::vector<TemplateRow>& rows,
                             const std::vector<std::string>& code) {
    createDatabase(path, {kTemplatesTable});
    Session session(path, Open::Attach);
    ISC_STATUS_ARRAY status;

    isc_stmt_handle stmt = 0;
    isc_dsql_allocate_statement(status, &session.db, &stmt);
    check(status);
    struct StatementFree {
        isc_stmt_handle* h;
        ~StatementFree() {
            ISC_STATUS_ARRAY s;
            if (*h) isc_dsql_free_statement(s, h, DSQL_drop);
        }
    } freeStatement{&stmt};
    isc_dsql_prepare(status, &session.tr, &stmt, 0, kInsert, SQL_DIALECT_V6, nullptr);
    check(status);

    constexpr int kColumns = 10;
    std::unique_ptr<XSQLDA, XsqldaFree> in(static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(kColumns))));
    in->version = SQLDA_VERSION1;
    in->sqln = kColumns;
    isc_dsql_describe_bind(status, &stmt, SQLDA_VERSION1, in.get());
    check(status);

    short nulls[kColumns];
    ISC_LONG id = 0;
    ISC_INT64 price = 0;
    ISC_QUAD blob{};
    for (const auto& row : rows) {
        const std::optional<std::string>* texts[kColumns] = {nullptr,      &row.name,    &row.category, &row.number,
                                                             &row.keywords, nullptr,      &row.license,  nullptr,
                                                             &row.url,     &row.file};
        for (int i = 0; i < kColumns; ++i) {
            XSQLVAR& var = in->sqlvar[i];
            var.sqlind = &nulls[i];
            nulls[i] = 0;
            if (i == 0) {
                var.sqltype = SQL_LONG + 1;
                var.sqlscale = 0;
                var.sqllen = sizeof id;
                nulls[i] = row.id ? 0 : -1;
                id = row.id.value_or(0);
                var.sqldata = reinterpret_cast<char*>(&id);
            } else if (i == 5) {
                var.sqltype = SQL_BLOB + 1;
                var.sqllen = sizeof blob;
                nulls[i] = row.description ? 0 : -1;
                if (row.description) blob = session.createBlob(*row.description);
                var.sqldata = reinterpret_cast<char*>(&blob);
            } else if (i == 7) {
                var.sqltype = SQL_INT64 + 1;
                var.sqlscale = -4;
                var.sqllen = sizeof price;
                nulls[i] = row.price ? 0 : -1;
                price = row.price.value_or(0);
                var.sqldata = reinterpret_cast<char*>(&price);
            } else {
                const auto& text = *texts[i];
                var.sqltype = SQL_TEXT + 1;
                nulls[i] = text ? 0 : -1;
                var.sqllen = static_cast<ISC_SHORT>(text ? text->size() : 0);
                var.sqldata = const_cast<char*>(text ? text->data() : "");
            }
        }
        isc_dsql_execute(status, &session.tr, &stmt, SQLDA_VERSION1, in.get());
        check(status);
    }
    session.detach();

    if (code.empty()) return;
    Session hostile(path, Open::AttachWithoutTriggers);
    runEach(hostile, code);
}

void packDatabase(const std::string& databasePath, const std::string& zipPath, const std::string& entryName) {
    const int fd = ::open(databasePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw AppError("Cannot open file \"" + databasePath + "\"");
    ZipWriter zip(zipPath);
    ZipEntryOptions options;
    options.unixMode = 0644;  // as zip records a file made on Unix
    zip.beginFile(entryName, options);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            ::close(fd);
            throw AppError("Stream read error");
        }
        if (n == 0) break;
        zip.write(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    zip.endFile();
    zip.finish();
}

void buildCatalogueArchive(const std::string& databasePath, const std::string& zipPath,
                           const std::vector<TemplateRow>& rows, const std::vector<std::string>& code) {
    createCatalogueDatabase(databasePath, rows, code);
    packDatabase(databasePath, zipPath, "temp.fdb");
}

void createTemplateDatabase(const std::string& path) {
    createDatabase(path, {"CREATE TABLE ITEMS (ID INTEGER NOT NULL PRIMARY KEY, TITLE VARCHAR(100))",
                          "INSERT INTO ITEMS VALUES (1, 'First item')",
                          "INSERT INTO ITEMS VALUES (2, 'Second item')"});
}

}  // namespace quill::vendorkit
