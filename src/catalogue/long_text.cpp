#include "catalogue/long_text.h"

#include "platform/codepage.h"

#include <vector>

namespace quill {

std::string blobTextAsUtf8(const std::string& bytes) {
    if (auto decoded = platform::decodeUtf8(bytes)) return std::move(*decoded);
    return {};
}

void decodeLongText(RowBatch& rows) {
    std::vector<std::size_t> longText;
    for (std::size_t i = 0; i < rows.columns.size(); ++i)
        if (rows.columns[i].kind == ColumnKind::TextBlob) longText.push_back(i);
    if (longText.empty()) return;

    for (std::size_t row = 0; row < rows.rowCount(); ++row)
        for (std::size_t column : longText) {
            Cell& cell = rows.at(row, column);
            cell.text = blobTextAsUtf8(cell.text);
        }
}

}  // namespace quill
