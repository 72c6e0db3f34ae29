// The rows of one statement as they come from the catalogue database: column
// descriptions and a flat table of cells, row after row.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quill {

enum class ColumnKind {
    Integer,     // SMALLINT, INTEGER, BIGINT without scale: `number`
    Fixed,       // NUMERIC, DECIMAL: `number` scaled by 10^-scale
    Text,        // CHAR, VARCHAR: `text` holds the value in UTF-8 (FirebirdConnection::fetchAll)
    TextBlob,    // BLOB SUB_TYPE TEXT, fetched whole: `text` holds its bytes, UTF-8 for
                 // a blob the connection's character set carried
    BinaryBlob,  // any other blob: `text` holds the raw bytes
    Other        // DATE, TIME, TIMESTAMP, DOUBLE, BOOLEAN ...: `text` holds its display text
};

struct Column {
    std::string name;
    ColumnKind kind = ColumnKind::Text;
    int scale = 0;  // decimal places of a Fixed column (0 .. 18)
};

struct Cell {
    bool isNull = false;
    bool unread = false;  // a blob the fetch left for later: `number` holds its id
    std::int64_t number = 0;
    std::string text;
};

// Reads the blobs a fetch left unread, as the fetch would have read them.
class BlobSource {
public:
    virtual ~BlobSource() = default;
    // Raises the database's message, or when the rows' transaction has ended.
    virtual std::string read(std::size_t column, std::int64_t id) const = 0;
};

struct RowBatch {
    std::vector<Column> columns;
    std::vector<Cell> cells;  // rowCount() * columns.size(), row-major
    std::shared_ptr<const BlobSource> blobs;  // reads the unread cells

    std::size_t rowCount() const { return columns.empty() ? 0 : cells.size() / columns.size(); }
    Cell& at(std::size_t row, std::size_t column) { return cells[row * columns.size() + column]; }
    const Cell& at(std::size_t row, std::size_t column) const { return cells[row * columns.size() + column]; }
    // The cell's text, an unread blob read now.
    std::string textAt(std::size_t row, std::size_t column) const {
        const Cell& cell = at(row, column);
        return cell.unread ? blobs->read(column, cell.number) : cell.text;
    }
};

}  // namespace quill
