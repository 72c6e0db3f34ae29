// One attachment to a Firebird database through fbclient's embedded engine,
// opened on first use and kept until closed. The database is a download, so it
// is attached with its triggers and garbage collection off, read only in
// read-only transactions, and refused when it would run code or reach other
// files (catalogue/catalogue_refusal.h).
#pragma once

#include "catalogue/row_batch.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quill {

namespace platform {
class CodePageConverter;
}

class DeferredBlobs;

// Starts fbclient's embedded engine on a thread of its own, so that the first
// attachment, once there is a database to attach, costs less. The thread makes
// no attachment and gives the program back its termination signals.
class EngineStart {
public:
    EngineStart();
    ~EngineStart();  // waits for the thread
    EngineStart(const EngineStart&) = delete;
    EngineStart& operator=(const EngineStart&) = delete;

private:
    std::thread thread_;
};

// Whether a fetch reads its blobs, or leaves them to be read when asked for.
enum class BlobReading { Now, OnDemand };

class FirebirdConnection {
public:
    FirebirdConnection();
    ~FirebirdConnection();  // detaches quietly
    FirebirdConnection(const FirebirdConnection&) = delete;
    FirebirdConnection& operator=(const FirebirdConnection&) = delete;

    // The connection's name; a new name marks the parameters as not loaded.
    const std::string& connectionName() const { return name_; }
    void setConnectionName(const std::string& name);
    bool paramsLoaded() const { return paramsLoaded_; }
    void setParamsLoaded(bool loaded) { paramsLoaded_ = loaded; }

    // name=value lines, read and set as a LineList's. Database, user_name,
    // password, ServerCharSet (UTF8 when absent), SQLDialect (3 when absent) and
    // RoleName are used; others ignored. An empty value reads as an absent one.
    std::vector<std::string> params;
    std::string param(const std::string& name) const;  // "" when absent
    // Replaces the first line of that name, or appends one; "" removes it.
    void setParam(const std::string& name, const std::string& value);

    // Runs before every attachment attempt.
    std::function<void()> beforeConnect;

    bool connected() const;
    // Attaches unless attached; raises the database's own message, or the
    // refusal's, after which it is not attached.
    void open();
    // Detaches; raises the database's message (the handle is gone either way).
    void close();

    // Runs a SELECT in its own read-only transaction and fetches every row,
    // opening the connection first when needed. Raises the database's message.
    // sql, the CHAR and VARCHAR values and text blobs are UTF-8 here and travel
    // in the connection's character set; a character that set lacks becomes SUB
    // (0x1A) in the statement. Under NONE, and for columns of NONE or OCTETS,
    // bytes are taken as they come. OnDemand leaves each blob unread for the
    // batch's BlobSource, which reads it in the fetch's transaction; that
    // transaction stays open until the batch goes or the connection closes.
    RowBatch fetchAll(const std::string& sql, BlobReading blobs = BlobReading::Now);
    // The engine's plan for a statement, as "PLAN (T NATURAL)", prepared and never
    // run; opens the connection first when needed. Raises the database's message.
    std::string plan(const std::string& sql);

    int dialect() const;
    // The connection's character set (RDB$CHARACTER_SET_ID) while connected.
    int charsetId() const { return charsetId_; }

private:
    void learnCharset();

    std::string name_;
    bool paramsLoaded_ = false;
    unsigned int handle_ = 0;  // isc_db_handle
    int charsetId_ = 0;
    std::shared_ptr<const platform::CodePageConverter> text_;  // none: bytes as they come
    std::vector<std::weak_ptr<DeferredBlobs>> deferred_;  // ended before the connection closes
};

}  // namespace quill
