// The catalogue query: a statement text run on the connection.
#pragma once

#include "catalogue/firebird_connection.h"
#include "catalogue/row_batch.h"

#include <string>

namespace quill {

class SqlDataSet {
public:
    explicit SqlDataSet(FirebirdConnection& connection) : connection_(connection) {}

    std::string commandText;

    // Runs commandText and returns every row, its blobs read when asked for;
    // raises the database's message.
    RowBatch open();
    void close() { active_ = false; }
    bool active() const { return active_; }

private:
    FirebirdConnection& connection_;
    bool active_ = false;
};

}  // namespace quill
