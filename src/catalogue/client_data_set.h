// The in-memory result set the catalogue lists, shows and moves through.
#pragma once

#include "catalogue/row_batch.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace quill {

class ClientDataSet {
public:
    // Takes the rows; the current row is then the first.
    void open(RowBatch rows);
    void close();
    bool active() const { return active_; }

    // Every row access raises "Cannot perform this operation on a closed dataset"
    // when the set is closed.
    void first();
    void next();
    bool eof() const;
    std::size_t recordCount() const;

    // Columns by name, without regard to case; a missing one raises
    // "Field '<name>' not found". NULL reads as "", 0 and 0.
    std::string fieldText(const std::string& field) const;
    std::int32_t fieldInt(const std::string& field) const;       // raises on a non-integer value
    std::int64_t fieldAmount(const std::string& field) const;    // ten-thousandths

    // Makes the first row whose column equals `value` (compared as text) current.
    // False, with the current row unchanged, when none does.
    bool locate(const std::string& field, const std::string& value);

    const RowBatch& rows() const { return rows_; }

private:
    std::size_t columnIndex(const std::string& field) const;
    void requireActive() const;

    RowBatch rows_;
    std::unordered_map<std::string, std::size_t> index_;  // folded name -> column
    std::size_t current_ = 0;
    bool active_ = false;
};

}  // namespace quill
