#include "catalogue/firebird_connection.h"

#include "workspace/app/phase_marks.h"
#include "catalogue/catalogue_refusal.h"
#include "catalogue/firebird_charset.h"
#include "catalogue/firebird_error.h"
#include "platform/code_page_converter.h"
#include "platform/error.h"
#include "platform/termination_signals.h"
#include "workspace/app/line_list.h"

#include <ibase.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>

namespace quill {

static_assert(sizeof(isc_db_handle) == sizeof(unsigned int), "the header keeps the handle as unsigned int");

namespace {

void addDpbText(std::string& dpb, char tag, const std::string& value) {
    // Clumplets carry a one-byte length.
    const std::size_t size = std::min<std::size_t>(value.size(), 255);
    dpb += tag;
    dpb += static_cast<char>(size);
    dpb.append(value, 0, size);
}

void addDpbFlag(std::string& dpb, char tag) {
    dpb += tag;
    dpb += static_cast<char>(1);
    dpb += static_cast<char>(1);
}

// Read-only, and each statement sees what was committed when it began.
const char kReadOnlyTpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                             isc_tpb_nowait};

struct StatementHandle {
    isc_stmt_handle handle = 0;
    ~StatementHandle() {
        if (handle) {
            ISC_STATUS_ARRAY status;
            isc_dsql_free_statement(status, &handle, DSQL_drop);
        }
    }
};

// Rolls back unless committed, so a failed fetch leaves nothing open.
struct TransactionHandle {
    isc_tr_handle handle = 0;
    ~TransactionHandle() { end(); }
    void end() {
        if (handle) {
            ISC_STATUS_ARRAY status;
            isc_rollback_transaction(status, &handle);
            handle = 0;
        }
    }
};

// A statement prepared in a read-only transaction of its own; the statement is
// freed, then the transaction rolled back unless it was committed.
struct ReadOnlyStatement {
    ReadOnlyStatement(isc_db_handle* db, const std::string& statement, unsigned short dialect, XSQLDA* out) {
        ISC_STATUS_ARRAY status;
        isc_start_transaction(status, &tr.handle, 1, db, static_cast<unsigned short>(sizeof kReadOnlyTpb),
                              kReadOnlyTpb);
        checkFirebird(status);
        isc_dsql_allocate_statement(status, db, &stmt.handle);
        checkFirebird(status);
        isc_dsql_prepare(status, &tr.handle, &stmt.handle, 0, statement.c_str(), dialect, out);
        checkFirebird(status);
    }
    TransactionHandle tr;
    StatementHandle stmt;
};

struct XsqldaDeleter {
    void operator()(XSQLDA* p) const { std::free(p); }
};
using XsqldaPtr = std::unique_ptr<XSQLDA, XsqldaDeleter>;

XsqldaPtr allocateXsqlda(int columns) {
    XsqldaPtr p(static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(std::max(columns, 1)))));
    p->version = SQLDA_VERSION1;
    p->sqln = static_cast<ISC_SHORT>(std::max(columns, 1));
    return p;
}

std::string columnName(const XSQLVAR& var) {
    const char* name = var.aliasname_length > 0 ? var.aliasname : var.sqlname;
    const int length = var.aliasname_length > 0 ? var.aliasname_length : var.sqlname_length;
    return std::string(name, static_cast<std::size_t>(std::max(length, 0)));
}

ColumnKind kindOf(const XSQLVAR& var) {
    switch (var.sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return var.sqlscale < 0 ? ColumnKind::Fixed : ColumnKind::Integer;
    case SQL_TEXT:
    case SQL_VARYING:
        return ColumnKind::Text;
    case SQL_BLOB:
        return var.sqlsubtype == isc_blob_text ? ColumnKind::TextBlob : ColumnKind::BinaryBlob;
    default:
        return ColumnKind::Other;
    }
}

std::string scaledText(std::int64_t value, int scale) {
    if (scale <= 0) return std::to_string(value);
    const bool negative = value < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    if (digits.size() <= static_cast<std::size_t>(scale)) digits.insert(0, scale + 1 - digits.size(), '0');
    std::string whole = digits.substr(0, digits.size() - scale);
    std::string fraction = digits.substr(digits.size() - scale);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    std::string text = (negative ? "-" : "") + whole;
    if (!fraction.empty()) text += "." + fraction;
    return text;
}

std::string formatTm(const char* format, const std::tm& time) {
    char buffer[64];
    const std::size_t n = std::strftime(buffer, sizeof buffer, format, &time);
    return std::string(buffer, n);
}

std::string formatDouble(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

class BlobReader {
public:
    BlobReader(isc_db_handle* db, isc_tr_handle* tr) : db_(db), tr_(tr), buffer_(65535) {}

    // The blob's bytes, whole.
    void read(ISC_QUAD* id, std::string& out) {
        ISC_STATUS_ARRAY status;
        isc_blob_handle blob = 0;
        isc_open_blob2(status, db_, tr_, &blob, id, 0, nullptr);
        checkFirebird(status);
        for (;;) {
            unsigned short got = 0;
            const ISC_STATUS rc = isc_get_segment(status, &blob, &got,
                                                  static_cast<unsigned short>(buffer_.size()), buffer_.data());
            if (rc == 0 || rc == isc_segment) {
                out.append(buffer_.data(), got);
                continue;
            }
            if (rc == isc_segstr_eof) break;
            const std::string message = firebirdMessage(status);
            isc_close_blob(status, &blob);
            throw AppError(message);
        }
        isc_close_blob(status, &blob);
        checkFirebird(status);
    }

private:
    isc_db_handle* db_;
    isc_tr_handle* tr_;
    std::vector<char> buffer_;
};

void readCell(const XSQLVAR& var, const Column& column, BlobReader* blobs, Cell& cell) {
    if ((var.sqltype & 1) && *var.sqlind < 0) {
        cell.isNull = true;
        return;
    }
    const char* data = var.sqldata;
    switch (var.sqltype & ~1) {
    case SQL_SHORT: {
        ISC_SHORT v;
        std::memcpy(&v, data, sizeof v);
        cell.number = v;
        break;
    }
    case SQL_LONG: {
        ISC_LONG v;
        std::memcpy(&v, data, sizeof v);
        cell.number = v;
        break;
    }
    case SQL_INT64: {
        ISC_INT64 v;
        std::memcpy(&v, data, sizeof v);
        cell.number = v;
        break;
    }
    case SQL_TEXT: {
        // CHAR comes padded with blanks to its full width.
        std::size_t n = static_cast<std::size_t>(var.sqllen);
        while (n > 0 && data[n - 1] == ' ') --n;
        cell.text.assign(data, n);
        break;
    }
    case SQL_VARYING: {
        unsigned short n;
        std::memcpy(&n, data, sizeof n);
        cell.text.assign(data + sizeof n, n);
        break;
    }
    case SQL_BLOB: {
        static_assert(sizeof(ISC_QUAD) == sizeof cell.number);
        if (!blobs) {
            std::memcpy(&cell.number, data, sizeof cell.number);
            cell.unread = true;
            break;
        }
        ISC_QUAD id;
        std::memcpy(&id, data, sizeof id);
        blobs->read(&id, cell.text);
        break;
    }
    case SQL_FLOAT: {
        float v;
        std::memcpy(&v, data, sizeof v);
        cell.text = formatDouble(v);
        break;
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
        double v;
        std::memcpy(&v, data, sizeof v);
        cell.text = formatDouble(v);
        break;
    }
    case SQL_TYPE_DATE: {
        std::tm t{};
        isc_decode_sql_date(reinterpret_cast<const ISC_DATE*>(data), &t);
        cell.text = formatTm("%Y-%m-%d", t);
        break;
    }
    case SQL_TYPE_TIME: {
        std::tm t{};
        isc_decode_sql_time(reinterpret_cast<const ISC_TIME*>(data), &t);
        cell.text = formatTm("%H:%M:%S", t);
        break;
    }
    case SQL_TIMESTAMP: {
        std::tm t{};
        isc_decode_timestamp(reinterpret_cast<const ISC_TIMESTAMP*>(data), &t);
        cell.text = formatTm("%Y-%m-%d %H:%M:%S", t);
        break;
    }
    case SQL_BOOLEAN:
        cell.text = *reinterpret_cast<const unsigned char*>(data) ? "True" : "False";
        cell.number = *reinterpret_cast<const unsigned char*>(data) ? 1 : 0;
        break;
    default:
        // A type this program never reads (arrays, NULL-typed expressions): empty.
        break;
    }
    if (column.kind == ColumnKind::Integer || column.kind == ColumnKind::Fixed)
        cell.text = scaledText(cell.number, column.scale);
}

std::size_t align(std::size_t offset, std::size_t to) { return (offset + to - 1) / to * to; }

// A character the connection's set lacks becomes SUB in a statement: the
// statement stays whole, and no catalogue text holds that control character.
constexpr char kUnrepresentable = '\x1A';

}  // namespace

class DeferredBlobs final : public BlobSource {
public:
    DeferredBlobs(isc_db_handle* db, isc_tr_handle tr, std::vector<char> decode,
                  std::shared_ptr<const platform::CodePageConverter> text)
        : db_(db), decode_(std::move(decode)), text_(std::move(text)) {
        tr_.handle = tr;
    }

    std::string read(std::size_t column, std::int64_t id) const override {
        if (!tr_.handle) throw AppError("Cannot perform this operation on a closed dataset");
        ISC_QUAD quad;
        std::memcpy(&quad, &id, sizeof quad);
        std::string bytes;
        BlobReader(db_, &tr_.handle).read(&quad, bytes);
        return decode_[column] ? text_->toUtf8(bytes) : bytes;
    }

    // It only read, so rolling back loses nothing.
    void end() { tr_.end(); }

private:
    isc_db_handle* db_;
    mutable TransactionHandle tr_;
    std::vector<char> decode_;
    std::shared_ptr<const platform::CodePageConverter> text_;
};

EngineStart::EngineStart()
    : thread_([] {
          // No file is named, so the engine loads and is asked for nothing.
          ISC_STATUS_ARRAY status;
          isc_db_handle db = 0;
          const char dpb[] = {isc_dpb_version1};
          isc_attach_database(status, 0, "", &db, static_cast<short>(sizeof dpb), dpb);
          if (db) isc_detach_database(status, &db);
          platform::reclaimTerminationSignals();
      }) {}

EngineStart::~EngineStart() { thread_.join(); }

FirebirdConnection::FirebirdConnection() = default;

FirebirdConnection::~FirebirdConnection() {
    try {
        close();
    } catch (...) {
    }
}

void FirebirdConnection::setConnectionName(const std::string& name) {
    if (name != name_) paramsLoaded_ = false;
    name_ = name;
}

std::string FirebirdConnection::param(const std::string& name) const { return valueOfName(params, name); }

void FirebirdConnection::setParam(const std::string& name, const std::string& value) {
    setNameValue(params, name, value);
}

bool FirebirdConnection::connected() const { return handle_ != 0; }

int FirebirdConnection::dialect() const {
    const std::string text = param("SQLDialect");
    if (text == "1") return 1;
    if (text == "2") return 2;
    return SQL_DIALECT_V6;
}

void FirebirdConnection::open() {
    if (connected()) return;
    if (beforeConnect) beforeConnect();

    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    const std::string user = param("user_name");
    const std::string password = param("password");
    std::string charset = param("ServerCharSet");
    if (charset.empty()) charset = "UTF8";
    const std::string role = param("RoleName");
    if (!user.empty()) addDpbText(dpb, isc_dpb_user_name, user);
    if (!password.empty()) addDpbText(dpb, isc_dpb_password, password);
    addDpbText(dpb, isc_dpb_lc_ctype, charset);
    if (!role.empty()) addDpbText(dpb, isc_dpb_sql_role_name, role);
    dpb += static_cast<char>(isc_dpb_sql_dialect);
    dpb += static_cast<char>(1);
    dpb += static_cast<char>(dialect());
    // No trigger of the database runs: on connect, on disconnect, or at a
    // transaction's start or end. Nor does garbage collection or a sweep, which
    // would evaluate the expressions of its indices on old record versions.
    addDpbFlag(dpb, isc_dpb_no_db_triggers);
    addDpbFlag(dpb, isc_dpb_no_garbage_collect);
    // Only the engine inside this process attaches: a name that reads as a
    // server's (host:path, host/port:path, inet://...) never leaves the machine.
    addDpbText(dpb, isc_dpb_config, "Providers=Engine12");

    const std::string database = param("Database");
    // The engine opens the other files a database names at the attachment
    // itself, so they are refused before it.
    refuseOtherFiles(database);
    ISC_STATUS_ARRAY status;
    isc_db_handle db = 0;
    isc_attach_database(status, static_cast<short>(database.size()), database.c_str(), &db,
                        static_cast<short>(dpb.size()), dpb.data());
    // The client takes SIGINT and SIGTERM at its first attachment and would cut
    // this connection off on them; the program ends in its own orderly way.
    platform::reclaimTerminationSignals();
    checkFirebird(status);
    markPhase("client loaded and attached");
    handle_ = db;
    try {
        refuseCodeInTemplates(*this);
        learnCharset();
    } catch (...) {
        handle_ = 0;
        isc_detach_database(status, &db);
        throw;
    }
}

void FirebirdConnection::learnCharset() {
    text_.reset();
    charsetId_ = 0;
    // The attachment knows its set by number, whichever of Firebird's names
    // (WIN1252, WIN_1252, LATIN1 ...) the parameters gave.
    const RowBatch rows = fetchAll(
        "SELECT MON$CHARACTER_SET_ID FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION");
    if (rows.rowCount() == 1) charsetId_ = static_cast<int>(rows.at(0, 0).number);
    if (const unsigned codePage = codePageOfCharset(charsetId_))
        text_ = std::make_shared<const platform::CodePageConverter>(codePage);
}

void FirebirdConnection::close() {
    if (!connected()) return;
    for (const auto& weak : deferred_)
        if (const auto blobs = weak.lock()) blobs->end();
    deferred_.clear();
    isc_db_handle db = handle_;
    handle_ = 0;
    text_.reset();
    charsetId_ = 0;
    ISC_STATUS_ARRAY status;
    isc_detach_database(status, &db);
    checkFirebird(status);
}

RowBatch FirebirdConnection::fetchAll(const std::string& sql, BlobReading blobReading) {
    open();
    isc_db_handle* db = &handle_;
    ISC_STATUS_ARRAY status;

    XsqldaPtr out = allocateXsqlda(20);
    const unsigned short sqlDialect = static_cast<unsigned short>(dialect());
    ReadOnlyStatement query(db, text_ ? text_->fromUtf8(sql, kUnrepresentable) : sql, sqlDialect, out.get());
    isc_tr_handle& tr = query.tr.handle;
    isc_stmt_handle& stmt = query.stmt.handle;
    if (out->sqld > out->sqln) {
        out = allocateXsqlda(out->sqld);
        isc_dsql_describe(status, &stmt, sqlDialect, out.get());
        checkFirebird(status);
    }

    RowBatch batch;
    const int columnCount = out->sqld;
    std::size_t bufferSize = 0;
    std::vector<std::size_t> offsets(columnCount), indicatorOffsets(columnCount);
    // Firebird turns CHAR, VARCHAR and text blobs into the connection's set and
    // describes them so; NONE and OCTETS columns it leaves alone and describes by
    // their own set. A text blob thus turned is UTF-8 again before the provider
    // reads it as UTF-8.
    std::vector<char> decode(columnCount, 0);
    for (int i = 0; i < columnCount; ++i) {
        XSQLVAR& var = out->sqlvar[i];
        Column column;
        column.name = columnName(var);
        column.kind = kindOf(var);
        column.scale = column.kind == ColumnKind::Fixed ? -var.sqlscale : 0;
        batch.columns.push_back(column);
        const int charset = column.kind == ColumnKind::Text       ? var.sqlsubtype & 0xFF
                            : column.kind == ColumnKind::TextBlob ? var.sqlscale & 0xFF
                                                                  : -1;
        decode[i] = text_ && charset == charsetId_;

        std::size_t length = static_cast<std::size_t>(var.sqllen);
        if ((var.sqltype & ~1) == SQL_VARYING) length += sizeof(short);
        bufferSize = align(bufferSize, 8);
        offsets[i] = bufferSize;
        bufferSize += length;
        bufferSize = align(bufferSize, alignof(short));
        indicatorOffsets[i] = bufferSize;
        bufferSize += sizeof(short);
    }
    std::vector<char> buffer(std::max<std::size_t>(bufferSize, 1) + 8);
    for (int i = 0; i < columnCount; ++i) {
        out->sqlvar[i].sqldata = buffer.data() + offsets[i];
        out->sqlvar[i].sqlind = reinterpret_cast<short*>(buffer.data() + indicatorOffsets[i]);
    }

    isc_dsql_execute(status, &tr, &stmt, sqlDialect, nullptr);
    checkFirebird(status);

    bool blobsUnread = false;
    if (columnCount > 0) {
        BlobReader reader(db, &tr);
        BlobReader* blobs = blobReading == BlobReading::Now ? &reader : nullptr;
        for (;;) {
            const ISC_STATUS rc = isc_dsql_fetch(status, &stmt, SQLDA_VERSION1, out.get());
            if (rc == 100) break;
            checkFirebird(status);
            if (rc != 0) throw AppError(firebirdMessage(status));
            const std::size_t first = batch.cells.size();
            batch.cells.resize(first + columnCount);
            for (int i = 0; i < columnCount; ++i) {
                Cell& cell = batch.cells[first + i];
                readCell(out->sqlvar[i], batch.columns[i], blobs, cell);
                blobsUnread |= cell.unread;
                if (decode[i] && !cell.isNull && !cell.unread) cell.text = text_->toUtf8(cell.text);
            }
        }
    }

    if (blobsUnread) {
        auto blobs = std::make_shared<DeferredBlobs>(db, std::exchange(tr, 0), std::move(decode), text_);
        deferred_.erase(std::remove_if(deferred_.begin(), deferred_.end(), [](const auto& w) { return w.expired(); }),
                        deferred_.end());
        deferred_.push_back(blobs);
        batch.blobs = std::move(blobs);
        return batch;
    }
    isc_commit_transaction(status, &tr);
    checkFirebird(status);
    tr = 0;
    return batch;
}

std::string FirebirdConnection::plan(const std::string& sql) {
    open();
    ISC_STATUS_ARRAY status;
    ReadOnlyStatement query(&handle_, text_ ? text_->fromUtf8(sql, kUnrepresentable) : sql,
                            static_cast<unsigned short>(dialect()), nullptr);

    static const char items[] = {isc_info_sql_get_plan};
    std::vector<char> info(32000);  // a longer plan comes truncated, and so differs
    isc_dsql_sql_info(status, &query.stmt.handle, sizeof items, items, static_cast<short>(info.size()), info.data());
    checkFirebird(status);
    std::string text;
    if (info[0] == isc_info_sql_get_plan) {
        const std::size_t length = static_cast<unsigned short>(isc_vax_integer(info.data() + 1, 2));
        text.assign(info.data() + 3, std::min(length, info.size() - 3));
    }
    // The engine starts the plan on a line of its own.
    const std::size_t first = text.find_first_not_of(" \r\n");
    return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace quill
